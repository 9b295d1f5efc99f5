#include "camsim/web_server.h"

#include <thread>

namespace camsim {
namespace {

constexpr const char* kMjpegDocument = "img/video.mjpeg";
constexpr const char* kBoundary = "myboundary";

}  // namespace

WebServer::WebServer(const CameraConfig& config, WebApi& api, StreamingSettings& settings, MediaLibrary& media,
                     Faults& faults)
    : m_api(api),
      m_settings(settings),
      m_media(media),
      m_faults(faults),
      m_auth(config.httpAuth, config.realm, config.user, config.password),
      m_server([this](Connection& connection, const std::atomic<bool>& stopping) { Serve(connection, stopping); }) {}

void WebServer::Serve(Connection& connection, const std::atomic<bool>& stopping) {
    std::string buffer;
    HttpRequest request;
    while (ReadRequest(connection, buffer, stopping, request) == ReadResult::kRequest) {
        const bool mjpeg = request.document == kMjpegDocument;
        AnswerOverride override = m_faults.AnswerFor(Protocol::kHttp, mjpeg ? "video.mjpeg" : WebApi::RequestName(request));
        if (!DelayAnswer(connection, override, stopping)) return;
        if (override.garbage) {
            connection.SendAll(GarbageBytes());
            return;
        }
        HttpResponse response;
        if (!m_auth.Admit(request.method, request.Header("Authorization"), response.headers)) {
            response.status = 401;
        } else if (override.status != 0) {
            response.status = override.status;
        } else if (mjpeg) {
            StreamMjpeg(connection, stopping);
            return;
        } else {
            response = m_api.Handle(request);
        }
        if (override.padBytes != 0) response.body += "<!--" + std::string(override.padBytes - 7, 'x') + "-->";
        if (!SendAnswer(connection, FormatHttpResponse(response), override.trickleMs, stopping)) return;
    }
}

bool WebServer::SendAnswer(Connection& connection, const std::string& bytes, int trickleMs,
                           const std::atomic<bool>& stopping) {
    if (trickleMs == 0) return connection.SendAll(bytes);
    for (char byte : bytes) {
        for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(trickleMs);
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            if (stopping) return false;
        }
        if (!connection.SendAll(&byte, 1)) return false;
    }
    return true;
}

void WebServer::StreamMjpeg(Connection& connection, const std::atomic<bool>& stopping) {
    std::vector<StreamProfile> streams = m_settings.Streams();
    unsigned width = streams.empty() ? 352 : streams[0].width;
    unsigned height = streams.empty() ? 288 : streams[0].height;
    unsigned rate = streams.empty() || streams[0].frameRate == 0 ? 1 : std::min(streams[0].frameRate, 60u);
    const MediaClip* clip = m_media.Find(kCodecJpeg, width, height);
    if (clip == nullptr || clip->pictures.empty()) {
        connection.SendAll(FormatHttpResponse(HttpResponse{404, "text/plain", {}, "no pictures"}));
        return;
    }
    // No Content-Length: the body ends only when either side closes.
    if (!connection.SendAll(std::string("HTTP/1.1 200 OK\r\nServer: camsim\r\nConnection: close\r\n"
                                        "Content-Type: multipart/x-mixed-replace; boundary=") +
                            kBoundary + "\r\n\r\n"))
        return;
    const auto interval = std::chrono::microseconds(1000000 / rate);
    auto next = std::chrono::steady_clock::now();
    for (std::size_t index = 0; !stopping; index = (index + 1) % clip->pictures.size()) {
        if (!m_faults.StreamsPaused()) {
            const rtppack::Bytes& picture = clip->pictures[index];
            std::string part = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                               std::to_string(picture.size()) + "\r\n\r\n";
            if (!connection.SendAll(part) || !connection.SendAll(picture.data(), picture.size()) ||
                !connection.SendAll(std::string("\r\n")))
                return;
        }
        next += interval;
        std::this_thread::sleep_until(next);
    }
}

}  // namespace camsim
