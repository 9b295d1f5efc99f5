// The camera's HTTP server on the web port: the web API documents, and the MJPEG stream at
// "/img/video.mjpeg" (a never-ending multipart body of whole JPEG pictures at the first stream's
// frame rate). Optional Basic or Digest authentication in front of both; answer overrides from
// the faults. One thread per connection (TcpServer).
#ifndef QUILLON_TOOLS_CAMSIM_WEB_SERVER_H
#define QUILLON_TOOLS_CAMSIM_WEB_SERVER_H

#include "camsim/auth.h"
#include "camsim/camera_config.h"
#include "camsim/faults.h"
#include "camsim/http_message.h"
#include "camsim/media_library.h"
#include "camsim/streaming_settings.h"
#include "camsim/tcp_server.h"
#include "camsim/web_api.h"

namespace camsim {

class WebServer {
public:
    // Every reference is owned by the simulator and outlives the server.
    WebServer(const CameraConfig& config, WebApi& api, StreamingSettings& settings, MediaLibrary& media,
              Faults& faults);
    ~WebServer() { Stop(); }

    bool Start(std::uint16_t port) { return m_server.Start(port); }
    void Stop() { m_server.Stop(); }
    std::uint16_t Port() const { return m_server.Port(); }
    Authenticator& Auth() { return m_auth; }

private:
    void Serve(Connection& connection, const std::atomic<bool>& stopping);
    void StreamMjpeg(Connection& connection, const std::atomic<bool>& stopping);
    // All of `bytes`, or one at a time `trickleMs` apart when that is not 0.
    static bool SendAnswer(Connection& connection, const std::string& bytes, int trickleMs,
                           const std::atomic<bool>& stopping);

    WebApi& m_api;
    StreamingSettings& m_settings;
    MediaLibrary& m_media;
    Faults& m_faults;
    Authenticator m_auth;
    TcpServer m_server;
};

}  // namespace camsim

#endif
