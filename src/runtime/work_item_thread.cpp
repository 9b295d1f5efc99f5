#include "runtime/work_item_thread.h"

namespace kestrel::thread {

CWorkItemThread::CWorkItemThread(std::size_t maxQueued) : m_maxQueued(maxQueued) {}

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

void CWorkItemThread::Run() {
    for (;;) {
        std::unique_ptr<IWorkItem> item;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            while (m_running && m_queue.empty()) {
                lock.unlock();
                m_wake.Wait(CEvent::kInfinite);
                lock.lock();
            }
            if (!m_running) break;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        try {
            ProcessWorkItem(item.get());
        } catch (...) {
            // The item is lost either way; the worker stays up for the next one.
        }
    }
    // Items queued before the stop are discarded unprocessed.
    std::deque<std::unique_ptr<IWorkItem>> discarded;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        discarded.swap(m_queue);
    }
}

}  // namespace kestrel::thread
