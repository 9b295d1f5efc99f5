// The program's own look at a camera before the driver starts: does the name resolve, does the
// web port answer, does the camera accept the account. It tells a wrong password from a closed
// port and a bad name, which the driver's results alone do not. It also reads the output states,
// so that the io command reports an output as set only once the camera shows it so.
#ifndef QUILLON_TOOLS_CAPTURE_CAMERA_PROBE_H
#define QUILLON_TOOLS_CAPTURE_CAMERA_PROBE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/reference_host.h"
#include "platform/http_transport.h"

namespace quillon_capture {

enum class ProbeResult {
    kReady,         // logged in
    kNameUnknown,   // the host name does not resolve
    kRefused,       // nothing listens on the port (yet: a camera may be rebooting)
    kSilent,        // no connection or no HTTP answer within the time-out
    kLoginRefused,  // the camera refused the account
};

// One web API session with the camera; used by one thread.
class CCameraProbe {
public:
    CCameraProbe(const quillon_host::HostCameraConfig& camera, std::uint32_t timeoutMs);
    ~CCameraProbe();  // logs out

    // Resolves, connects and logs in; `Reason` then tells what failed.
    ProbeResult Login();
    const std::string& Reason() const { return m_reason; }
    // The states of the camera's outputs (1 inactive, 2 active), in port order; false when the
    // camera did not answer with them.
    bool OutputStates(std::vector<std::uint32_t>* states);

    // A refused login and an unknown name do not mend by waiting.
    static bool Permanent(ProbeResult result) {
        return result == ProbeResult::kNameUnknown || result == ProbeResult::kLoginRefused;
    }

private:
    ProbeResult Fail(ProbeResult result, std::string reason);
    // Sends with the scheme the server asks for when it answers 401 to plain requests.
    bool Send(kestrel::platform::HttpTransportRequest request, std::string* body);

    const quillon_host::HostCameraConfig m_camera;
    const std::uint32_t m_timeoutMs;
    std::unique_ptr<kestrel::platform::HttpTransport> m_http;
    std::uint32_t m_status = 0;  // of the last response
    std::string m_sessionHeader;  // of the last response
    std::string m_session;
    std::string m_reason;
};

}  // namespace quillon_capture

#endif
