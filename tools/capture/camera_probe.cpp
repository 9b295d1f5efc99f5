#include "capture/camera_probe.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "platform/sockets.h"
#include "platform/tcp_socket.h"
#include "platform/xml_document.h"

namespace quillon_capture {

using namespace kestrel::platform;

namespace {

constexpr std::uint32_t kHttpUnauthorized = 401;
constexpr std::uint32_t kHttpOk = 200;
constexpr std::size_t kLargestAnswer = 1 << 20;
constexpr const char* kFormType = "Content-Type: application/x-www-form-urlencoded";

std::string PercentEncode(const std::string& text) {
    std::string encoded;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", unsigned(byte));
            encoded += escape;
        }
    }
    return encoded;
}

std::string Where(const quillon_host::HostCameraConfig& camera) {
    return camera.address + ":" + std::to_string(camera.port);
}

// The web API's status answer: statusCode 1 is success.
std::string StatusCode(const std::string& body) {
    XmlDocument document;
    std::string code;
    if (!document.Load(body) || !document.NodeText("ResponseStatus/statusCode", code)) return "";
    return code;
}

}  // namespace

CCameraProbe::CCameraProbe(const quillon_host::HostCameraConfig& camera, std::uint32_t timeoutMs)
    : m_camera(camera), m_timeoutMs(timeoutMs) {}

CCameraProbe::~CCameraProbe() {
    if (m_session.empty()) return;
    HttpTransportRequest logout;
    logout.method = "GET";
    logout.object = "/System.xml?version=1.0&action=logout&sessionID=" + PercentEncode(m_session);
    std::string ignored;
    Send(logout, &ignored);
}

ProbeResult CCameraProbe::Fail(ProbeResult result, std::string reason) {
    m_reason = std::move(reason);
    return result;
}

ProbeResult CCameraProbe::Login() {
    std::uint32_t address = 0;
    if (!SocketsStartup()) return Fail(ProbeResult::kSilent, "the system's sockets cannot start");
    const bool resolved = ResolveIpv4(m_camera.address, address);
    SocketError connected = SocketError::kOther;
    if (resolved) {
        TcpSocket socket;
        connected = socket.Create();
        if (connected == SocketError::kNone) connected = socket.Connect({address, m_camera.port}, m_timeoutMs);
    }
    SocketsCleanup();
    if (!resolved) return Fail(ProbeResult::kNameUnknown, "the name '" + m_camera.address + "' does not resolve");
    if (connected == SocketError::kConnectionRefused) {
        return Fail(ProbeResult::kRefused, Where(m_camera) + " refuses connections (wrong --port, or not started yet)");
    }
    if (connected != SocketError::kNone) {
        return Fail(ProbeResult::kSilent,
                    "no connection to " + Where(m_camera) + " (" + SocketErrorName(connected) + ")");
    }
    HttpTransportSettings settings;
    settings.host = m_camera.address;
    settings.port = m_camera.port;
    settings.timeoutMs = m_timeoutMs;
    settings.user = m_camera.user;
    settings.password = m_camera.password;
    m_http = std::make_unique<HttpTransport>(settings);
    HttpTransportRequest login;
    login.method = "POST";
    login.object = "/System.xml";
    login.headers = {kFormType};
    const std::string form = "version=1.0&action=login&userName=" + PercentEncode(m_camera.user) +
                             "&password=" + PercentEncode(m_camera.password);
    login.body.assign(form.begin(), form.end());
    std::string body;
    if (!Send(login, &body) && m_status == 0) {
        return Fail(ProbeResult::kSilent, Where(m_camera) + " accepts connections but gives no HTTP answer");
    }
    const std::string hint = ": check --user/--password";
    if (m_status == kHttpUnauthorized) return Fail(ProbeResult::kLoginRefused, "login refused (HTTP 401)" + hint);
    const std::string code = StatusCode(body);
    if (m_status != kHttpOk || code.empty()) {
        return Fail(ProbeResult::kSilent, Where(m_camera) + " answers HTTP " + std::to_string(m_status) +
                                              " but not as a camera's web API");
    }
    m_session = m_sessionHeader;
    if (code != "1" || m_session.empty()) {
        return Fail(ProbeResult::kLoginRefused, "login refused by the camera (status " + code + ")" + hint);
    }
    return ProbeResult::kReady;
}

bool CCameraProbe::Send(HttpTransportRequest request, std::string* body) {
    body->clear();
    m_status = 0;
    if (!m_http) return false;
    bool sent = m_http->Send(request);
    if (sent && m_http->StatusCode(m_status) && m_status == kHttpUnauthorized && m_http->FirstOfferedScheme() != 0 &&
        !m_camera.user.empty()) {
        request.scheme = m_http->FirstOfferedScheme();
        sent = m_http->Send(request);
        m_status = 0;
        if (sent) m_http->StatusCode(m_status);
    }
    if (!sent) return false;
    // A login answer names its session in this header.
    m_sessionHeader = m_http->QueryHeader("sessionID");
    // A camera that trickles its answer gets no more than twice the time-out for all of it.
    const auto deadline = std::chrono::steady_clock::now() + 2 * std::chrono::milliseconds(m_timeoutMs);
    std::uint8_t chunk[4096];
    for (;;) {
        std::size_t got = 0;
        const HttpReadStatus read = m_http->Read(chunk, sizeof chunk, got);
        body->append(reinterpret_cast<const char*>(chunk), got);
        if (read == HttpReadStatus::kEnd) break;
        if (read != HttpReadStatus::kData || body->size() > kLargestAnswer ||
            std::chrono::steady_clock::now() > deadline) {
            m_http->CloseRequest();
            return false;
        }
    }
    m_http->CloseRequest();
    return true;
}

bool CCameraProbe::OutputStates(std::vector<std::uint32_t>* states) {
    if (m_session.empty()) return false;
    HttpTransportRequest request;
    request.method = "GET";
    request.object = "/IOPortStatus.xml?version=1.0&action=get&sessionID=" + PercentEncode(m_session);
    std::string body;
    XmlDocument document;
    if (!Send(request, &body) || m_status != kHttpOk || !document.Load(body)) return false;
    states->clear();
    for (const std::string& state :
         document.NodeTextList("DeviceInfo/IOPortStatus/OutputPortList/OutputPortEntry/ioStateType")) {
        states->push_back(state == "1" ? 1 : state == "2" ? 2 : 0);
    }
    return true;
}

}  // namespace quillon_capture
