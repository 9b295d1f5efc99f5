#include "host/io_host.h"

#include "runtime/host_call.h"

namespace quillon_host {

CHostIOCallback::CHostIOCallback(std::function<void(const InputChange&)> echo) : m_echo(std::move(echo)) {}

void* CHostIOCallback::Destroy(unsigned int flags) {
    return kestrel::DestroyObject(this, flags);
}

void CHostIOCallback::OnInputStateChanged(std::uint32_t port, std::uint32_t state) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_changes.push_back({port, state});
        m_arrived.notify_all();
    }
    if (m_echo) m_echo({port, state});
}

void CHostIOCallback::OnIOFailure() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_failures;
        m_arrived.notify_all();
    }
    if (m_echo) m_echo({kFailurePort, 0});
}

bool CHostIOCallback::WaitForChanges(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_changes.size() >= count; });
}

bool CHostIOCallback::WaitForFailures(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_failures >= count; });
}

std::vector<InputChange> CHostIOCallback::Changes() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_changes;
}

std::size_t CHostIOCallback::FailureCount() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_failures;
}

void CHostIOCallback::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_changes.clear();
    m_failures = 0;
}

}  // namespace quillon_host
