// The camera's XML-over-HTTP configuration interface: login and logout with session identifiers,
// device information, streaming settings (read and write), I/O port settings and status, and
// output triggering. Pure request-to-response logic; the web server carries the bytes.
//
// Answers follow the camera: HTTP 200 with a "ResponseStatus" whose statusCode is 1 for success
// and one of the codes below otherwise. Thread-safe: sessions under one mutex, the settings and
// ports under their own.
#ifndef QUILLON_TOOLS_CAMSIM_WEB_API_H
#define QUILLON_TOOLS_CAMSIM_WEB_API_H

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "camsim/camera_config.h"
#include "camsim/faults.h"
#include "camsim/http_message.h"
#include "camsim/io_ports.h"
#include "camsim/streaming_settings.h"

namespace camsim {

// statusCode values of "ResponseStatus".
constexpr int kStatusOk = 1;
constexpr int kStatusInvalidSession = 2;
constexpr int kStatusBadLogin = 3;
constexpr int kStatusBadRequest = 4;
constexpr int kStatusUnknownDocument = 5;

class WebApi {
public:
    using SessionSource = std::function<std::string()>;
    // Called after a write of the streaming settings, so the RTSP server can follow rtspPortNo.
    using SettingsObserver = std::function<void()>;

    // `settings`, `ports` and `faults` are owned by the simulator and outlive the interface.
    WebApi(const CameraConfig& config, StreamingSettings& settings, IoPorts& ports, Faults& faults,
           SessionSource sessions = SessionSource());

    void SetSettingsObserver(SettingsObserver observer) { m_observer = std::move(observer); }
    HttpResponse Handle(const HttpRequest& request);
    // True for an identifier that a login gave and no logout ended.
    bool IsSession(const std::string& id);
    std::size_t SessionCount();
    // Ends every web session, as a reboot or a session time-out does.
    void EndSessions();
    // The request's name for answer overrides ("login", "logout", or the document).
    static std::string RequestName(const HttpRequest& request);

private:
    HttpResponse Login(const std::map<std::string, std::string>& form);
    HttpResponse Logout(const std::string& session);
    HttpResponse DeviceBasicInfo();
    HttpResponse SetStreamingSetting(const std::string& body);
    HttpResponse IoPortSetting();
    HttpResponse IoPortStatus();
    HttpResponse TriggerOutput(const std::string& body);

    CameraConfig m_config;
    StreamingSettings& m_settings;
    IoPorts& m_ports;
    Faults& m_faults;
    SessionSource m_sessionSource;
    SettingsObserver m_observer;
    std::mutex m_lock;
    std::map<std::string, std::uint64_t> m_sessions;  // id -> login order, to end the oldest first
    std::uint64_t m_logins = 0;
};

std::string StatusDocument(int code, const std::string& text);

}  // namespace camsim

#endif
