#include "runtime/simple_thread.h"

namespace kestrel::thread {

CSimpleThread::CSimpleThread() = default;

CSimpleThread::~CSimpleThread() {
    // Only reached with a thread still held when the owner skipped its Stop; joining here is the
    // one safe choice left, as a thread must not outlive the object it runs on.
    if (m_thread.IsStarted() && !m_thread.IsCurrent()) {
        RequestStop();
        m_thread.Join();
    }
}

bool CSimpleThread::Start(const std::string& name) {
    if (m_thread.IsStarted()) return false;
    m_stopRequest.Reset();
    if (!m_thread.Start([this] { Run(); }, m_priority)) return false;
    m_name = name;
    return true;
}

bool CSimpleThread::WaitForExit() {
    m_thread.Join();
    return true;
}

bool CSimpleThread::WaitForExit(std::uint32_t timeoutMs) {
    if (!m_thread.IsStarted()) return true;
    if (m_thread.IsCurrent() || !m_thread.WaitForEnd(timeoutMs)) return false;
    m_thread.Join();
    return true;
}

void CSimpleThread::RequestStop() { m_stopRequest.Set(); }

bool CSimpleThread::IsStopRequested() const { return m_stopRequest.IsSet(); }

bool CSimpleThread::WaitForStop(std::uint32_t timeoutMs) { return m_stopRequest.Wait(timeoutMs); }

}  // namespace kestrel::thread
