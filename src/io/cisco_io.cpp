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

bool CCiscoIO::EnsureLoggedIn(CCiscoClient& client, bool& loggedIn) {
    if (!loggedIn) loggedIn = client.Connect(GetDriver()->GetDeviceInfo());
    return loggedIn;
}

bool CCiscoIO::ReadInputs(std::uint32_t count) {
    if (!EnsureLoggedIn(m_inputClient, m_inputLoggedIn)) return false;
    IO_PORT_STATUS status;
    // A camera whose session ended answers without port entries: log in again at the next poll.
    if (!m_inputClient.GetIOPortStatus(status) || status.inputStates.size() != count) {
        m_inputLoggedIn = false;
        return false;
    }
    for (std::uint32_t port = 0; port < count; ++port) ApplyInputState(port, MapState(status.inputStates[port]));
    return true;
}

bool CCiscoIO::WriteOutput(std::uint32_t port, std::uint32_t state) {
    if (!EnsureLoggedIn(m_outputClient, m_outputLoggedIn)) return false;
    if (m_outputClient.TriggerOutputPort(port, MapState(state))) return true;
    m_outputLoggedIn = false;
    return false;
}

void CCiscoIO::Disconnect() {
    m_inputClient.Disconnect();
    m_outputClient.Disconnect();
    m_inputLoggedIn = false;
    m_outputLoggedIn = false;
}

void CCiscoIO::AbortRequests() {
    m_inputClient.Abort();
    m_outputClient.Abort();
}

void CCiscoIO::ResumeRequests() {
    m_inputClient.ResetAbort();
    m_outputClient.ResetAbort();
}

}  // namespace kestrel
