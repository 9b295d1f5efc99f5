#include "runtime/event.h"

#include <chrono>

namespace kestrel {

CEvent::CEvent(bool initialState, bool manualReset, const void*)
    : m_signalled(initialState), m_manualReset(manualReset) {}

CEvent::~CEvent() = default;

bool CEvent::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    if (m_manualReset) {
        m_changed.notify_all();
    } else {
        m_changed.notify_one();
    }
    return true;
}

bool CEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
    return true;
}

bool CEvent::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto signalled = [this] { return m_signalled; };
    if (timeoutMs == kInfinite) {
        m_changed.wait(lock, signalled);
    } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled)) {
        return false;
    }
    if (!m_manualReset) m_signalled = false;
    return true;
}

bool CEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

}  // namespace kestrel
