#include "runtime/work_item_thread_ex.h"

namespace kestrel {

CWorkItemThreadEx::CWorkItemThreadEx(std::uint32_t idlePeriodMs) : m_idlePeriod(idlePeriodMs) {}

CWorkItemThreadEx::~CWorkItemThreadEx() {
    if (IsStarted() && !IsCurrentThread()) Stop();
    // Items added after a stop (or never taken) are still owned by the queue.
    std::deque<std::unique_ptr<IWorkItem>> discarded;
    CSpinMutexGuard guard(m_queueLock);
    discarded.swap(m_queue);
}

bool CWorkItemThreadEx::Start(const std::string& name) {
    {
        CSpinMutexGuard guard(m_queueLock);
        if (IsStarted()) return false;
        m_running = true;
    }
    if (CSimpleThread::Start(name)) return true;
    CSpinMutexGuard guard(m_queueLock);
    m_running = false;
    return false;
}

bool CWorkItemThreadEx::Stop() {
    {
        CSpinMutexGuard guard(m_queueLock);
        m_running = false;
    }
    ClearQueue();
    RequestStop();
    m_wake.Set();
    return WaitForExit();
}

bool CWorkItemThreadEx::AddWorkItem(IWorkItem* item, std::size_t maxQueued) {
    std::unique_ptr<IWorkItem> owned(item);
    if (!owned) return false;
    // Dropped items are deleted after the lock is released: their destructors are not ours to
    // run under the queue lock.
    std::deque<std::unique_ptr<IWorkItem>> dropped;
    {
        CSpinMutexGuard guard(m_queueLock);
        if (!m_running) return false;
        while (maxQueued != 0 && m_queue.size() >= maxQueued) {
            dropped.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        m_queue.push_back(std::move(owned));
    }
    m_wake.Set();
    return true;
}

std::size_t CWorkItemThreadEx::GetQueuedCount() const {
    CSpinMutexGuard guard(m_queueLock);
    return m_queue.size();
}

void CWorkItemThreadEx::ClearQueue() {
    while (PopWorkItem()) {
    }
}

std::unique_ptr<CWorkItemThreadEx::IWorkItem> CWorkItemThreadEx::PopWorkItem() {
    CSpinMutexGuard guard(m_queueLock);
    if (m_queue.empty()) return nullptr;
    std::unique_ptr<IWorkItem> item = std::move(m_queue.front());
    m_queue.pop_front();
    return item;
}

void CWorkItemThreadEx::Run() {
    for (;;) {
        if (IsStopRequested()) return;
        // A missed wake-up costs at most one idle period: the queue is looked at either way.
        m_wake.Wait(m_idlePeriod);
        while (std::unique_ptr<IWorkItem> item = PopWorkItem()) {
            try {
                ProcessWorkItem(item.get());
            } catch (...) {
                // Dropped with its item; the queue goes on.
            }
            if (IsStopRequested()) return;
        }
    }
}

}  // namespace kestrel
