// A work-item thread whose producers never keep an item: AddWorkItem always takes ownership, and
// a per-call bound drops the oldest queued items to make room, which suits "latest wins" work.
//
// Threading: AddWorkItem from any thread; Start and Stop on the owner's thread; ProcessWorkItem
// on the worker thread. m_queueLock guards the queue and the running flag and is never held while
// an item is processed. Without a wake-up the worker still looks at the queue every idle period.
//
// Destruction: the destructor stops a running thread, but by then a derived ProcessWorkItem is
// gone; derived classes stop the thread in their own destructor.
#ifndef QUILLON_RUNTIME_WORK_ITEM_THREAD_EX_H
#define QUILLON_RUNTIME_WORK_ITEM_THREAD_EX_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "runtime/event.h"
#include "runtime/simple_thread.h"
#include "runtime/spin_mutex.h"
#include "runtime/work_item.h"

namespace kestrel {

class CWorkItemThreadEx : protected thread::CSimpleThread {
public:
    using IWorkItem = thread::IWorkItem;

    static constexpr std::uint32_t kDefaultIdlePeriodMs = 1000;

    explicit CWorkItemThreadEx(std::uint32_t idlePeriodMs = kDefaultIdlePeriodMs);
    ~CWorkItemThreadEx() override;

    virtual bool Start(const std::string& name);
    // Closes the queue, deletes the items not yet taken, wakes the worker and waits for it.
    virtual bool Stop();
    // Always takes the item: if the queue is closed it is deleted at once and false returned.
    // With maxQueued > 0 the oldest items are deleted until fewer than maxQueued remain, then the
    // item is appended; maxQueued 0 means no bound.
    virtual bool AddWorkItem(IWorkItem* item, std::size_t maxQueued);

    std::size_t GetQueuedCount() const;

    using CSimpleThread::GetName;
    using CSimpleThread::IsCurrentThread;
    using CSimpleThread::IsStarted;
    using CSimpleThread::SetPriority;

protected:
    virtual void ClearQueue();
    // One item, on the worker thread; the queue deletes it afterwards. Exceptions are dropped.
    virtual void ProcessWorkItem(IWorkItem* item) = 0;
    // The front item, or null when the queue is empty.
    std::unique_ptr<IWorkItem> PopWorkItem();

    using CSimpleThread::IsStopRequested;

private:
    void Run() override;

    mutable CSpinMutex m_queueLock;
    std::deque<std::unique_ptr<IWorkItem>> m_queue;  // guarded by m_queueLock
    bool m_running = false;                          // guarded by m_queueLock
    const std::uint32_t m_idlePeriod;
    CEvent m_wake{false, false};
};

}  // namespace kestrel

#endif
