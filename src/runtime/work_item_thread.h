// A thread that processes queued work items one at a time, in queue order; urgent items go to
// the front. Constructed with a tick period, it also calls OnTick() a period after Start and
// then a period after each OnTick() returned, between items; a due tick goes before the queue,
// so a busy queue cannot starve it. One thread thus serves both a poll and its queued requests.
//
// The queue accepts items only between Start and Stop, and holds at most maxQueued items (0: no
// bound), so a producer faster than the worker gets a refusal instead of unbounded growth. A
// refused item stays the caller's. Stop discards the items not yet taken, unprocessed; it lets
// the item in progress finish, so ProcessWorkItem must not block beyond what its owner can
// interrupt.
//
// Threading: AddWorkItem from any thread; Start and Stop on the owner's thread; ProcessWorkItem
// on the worker thread. The queue lock guards the queue and the running flag and is never held
// while an item is processed.
#ifndef QUILLON_RUNTIME_WORK_ITEM_THREAD_H
#define QUILLON_RUNTIME_WORK_ITEM_THREAD_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/event.h"
#include "runtime/simple_thread.h"
#include "runtime/work_item.h"

namespace kestrel::thread {

class CWorkItemThread : protected CSimpleThread {
public:
    using IWorkItem = thread::IWorkItem;

    static constexpr std::size_t kDefaultMaxQueued = 1024;

    // tickPeriodMs 0: no ticks.
    explicit CWorkItemThread(std::size_t maxQueued = kDefaultMaxQueued, std::uint32_t tickPeriodMs = 0);
    // Deletes items still queued. Owners call Stop first.
    ~CWorkItemThread() override;

    // Opens the queue and starts the thread; if the thread cannot be created the queue is closed
    // again and false is returned.
    bool Start(const std::string& name);
    // Closes the queue, wakes the worker and waits for it; always true.
    bool Stop();
    // Closes the queue and wakes the worker without waiting for it (from any thread, the worker
    // included); Stop still joins it.
    void RequestExit();
    // True if the queue took the item (and now owns it): at the front when urgent, else at the
    // back. False, leaving the item with the caller, if it is null, the queue is closed or full.
    bool AddWorkItem(IWorkItem* item, bool urgent);

    std::size_t GetQueuedCount() const;

    using CSimpleThread::GetName;
    using CSimpleThread::IsCurrentThread;
    using CSimpleThread::IsStarted;
    using CSimpleThread::SetPriority;

protected:
    // One item, on the worker thread; the queue deletes it afterwards. An exception escaping it
    // is dropped with the item and the worker goes on.
    virtual void ProcessWorkItem(IWorkItem* item) = 0;
    // One tick, on the worker thread, when a period is set. An exception escaping it is dropped
    // and ticking goes on.
    virtual void OnTick() {}

    using CSimpleThread::IsStopRequested;

private:
    void Run() override;
    // The next item to process, or null when the tick is due first; false when the worker is
    // to end. Waits for whichever comes first.
    bool WaitForWork(std::uint64_t nextTickMs, std::unique_ptr<IWorkItem>& item);
    std::uint64_t NextTickMs() const;

    mutable std::mutex m_queueLock;
    std::deque<std::unique_ptr<IWorkItem>> m_queue;  // guarded by m_queueLock
    bool m_running = false;                          // guarded by m_queueLock
    const std::size_t m_maxQueued;
    const std::uint32_t m_tickPeriod;
    CEvent m_wake{false, false};
};

}  // namespace kestrel::thread

#endif
