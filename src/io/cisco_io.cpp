#include "io/cisco_io.h"

#include "runtime/host_call.h"

namespace kestrel {

namespace {

// The camera's states pass through; anything else counts as no valid state.
std::uint32_t MapState(std::uint32_t state) {
    return state == kIoStateOne || state == kIoStateTwo ? state : CIOBase::kNoState;
}

}  // namespace

CCiscoIO::CCiscoIO(IDriver* driver, std::uint32_t pollPeriodMs) : CIOBase(driver, pollPeriodMs) {}

CCiscoIO::~CCiscoIO() {
    Stop();
}

void* CCiscoIO::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

bool CCiscoIO::EnsureLoggedIn() {
    if (!m_loggedIn) m_loggedIn = m_client.Connect(GetDriver()->GetDeviceInfo());
    return m_loggedIn;
}

bool CCiscoIO::ReadInputs(std::uint32_t count) {
    if (!EnsureLoggedIn()) return false;
    IO_PORT_STATUS status;
    // A camera whose session ended answers without port entries: log in again at the next use.
    if (!m_client.GetIOPortStatus(status) || status.inputStates.size() != count) {
        m_loggedIn = false;
        return false;
    }
    for (std::uint32_t port = 0; port < count; ++port) ApplyInputState(port, MapState(status.inputStates[port]));
    return true;
}

bool CCiscoIO::WriteOutput(std::uint32_t port, std::uint32_t state) {
    if (!EnsureLoggedIn()) return false;
    if (m_client.TriggerOutputPort(port, MapState(state))) return true;
    m_loggedIn = false;
    return false;
}

void CCiscoIO::Disconnect() {
    m_client.Disconnect();
    m_loggedIn = false;
}

void CCiscoIO::AbortRequests() { m_client.Abort(); }

void CCiscoIO::ResumeRequests() { m_client.ResetAbort(); }

}  // namespace kestrel
