#include "runtime/work_item_thread.h"

#include "platform/clock.h"

namespace kestrel::thread {

CWorkItemThread::CWorkItemThread(std::size_t maxQueued, std::uint32_t tickPeriodMs)
    : m_maxQueued(maxQueued), m_tickPeriod(tickPeriodMs) {}

CWorkItemThread::~CWorkItemThread() {
    if (IsStarted() && !IsCurrentThread()) Stop();
}

bool CWorkItemThread::Start(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (IsStarted()) return false;
        m_running = true;
    }
    if (CSimpleThread::Start(name)) return true;
    // Without a worker nothing would ever take the items: refuse them, so producers keep theirs.
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_running = false;
    return false;
}

bool CWorkItemThread::Stop() {
    RequestExit();
    return WaitForExit();
}

void CWorkItemThread::RequestExit() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_running = false;
    }
    RequestStop();
    m_wake.Set();
}

bool CWorkItemThread::AddWorkItem(IWorkItem* item, bool urgent) {
    if (!item) return false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (!m_running) return false;
        if (m_maxQueued != 0 && m_queue.size() >= m_maxQueued) return false;
        if (urgent) {
            m_queue.emplace_front(item);
        } else {
            m_queue.emplace_back(item);
        }
    }
    m_wake.Set();
    return true;
}

std::size_t CWorkItemThread::GetQueuedCount() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.size();
}

std::uint64_t CWorkItemThread::NextTickMs() const {
    return m_tickPeriod == 0 ? 0 : platform::MonotonicMilliseconds() + m_tickPeriod;
}

bool CWorkItemThread::WaitForWork(std::uint64_t nextTickMs, std::unique_ptr<IWorkItem>& item) {
    std::unique_lock<std::mutex> lock(m_queueLock);
    for (;;) {
        if (!m_running) return false;
        std::uint32_t waitMs = CEvent::kInfinite;
        if (nextTickMs != 0) {
            const std::uint64_t now = platform::MonotonicMilliseconds();
            if (now >= nextTickMs) return true;
            waitMs = std::uint32_t(nextTickMs - now);
        }
        if (!m_queue.empty()) {
            item = std::move(m_queue.front());
            m_queue.pop_front();
            return true;
        }
        lock.unlock();
        m_wake.Wait(waitMs);
        lock.lock();
    }
}

void CWorkItemThread::Run() {
    std::uint64_t nextTickMs = NextTickMs();
    for (;;) {
        std::unique_ptr<IWorkItem> item;
        if (!WaitForWork(nextTickMs, item)) break;
        try {
            if (item) {
                ProcessWorkItem(item.get());
            } else {
                OnTick();
            }
        } catch (...) {
            // The item or the tick is lost either way; the worker stays up for the next one.
        }
        if (!item) nextTickMs = NextTickMs();
    }
    // Items queued before the stop are discarded unprocessed.
    std::deque<std::unique_ptr<IWorkItem>> discarded;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        discarded.swap(m_queue);
    }
}

}  // namespace kestrel::thread
