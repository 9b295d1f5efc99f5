// The camera's RTSP 1.0 server. DESCRIBE takes the stream path with the web API session
// ("StreamingSetting?version=1.0&action=getRTSPStream&sessionID=...&ChannelID=...&ChannelName=...")
// and checks both the session and the channel; SETUP, PLAY, PAUSE and TEARDOWN take
// "ChannelID=..&ChannelName=.." paths with a "/trackID=N" control, in the driver's form or as a
// standard client derives them from Content-Base. OPTIONS, GET_PARAMETER and SET_PARAMETER keep a
// session alive. Session identifiers are mixed case and compared without case, since clients
// lower-case them. SETUP takes RTP over UDP to client ports, or RTP inside the RTSP connection on
// interleaved channels (RFC 2326 section 10.12); then the connection carries "$" frames and RTSP
// messages both ways, all sent through the connection's InterleavedLink.
//
// Threading: one thread per connection (TcpServer); sessions and links are guarded by one mutex.
// A session ends with TEARDOWN, with its connection, or when neither a request nor a receiver
// report came for its time-out (ExpireSessions, called by the simulator's housekeeping thread).
#ifndef QUILLON_TOOLS_CAMSIM_RTSP_SERVER_H
#define QUILLON_TOOLS_CAMSIM_RTSP_SERVER_H

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camsim/auth.h"
#include "camsim/camera_config.h"
#include "camsim/faults.h"
#include "camsim/http_message.h"
#include "camsim/interleaved_link.h"
#include "camsim/media_library.h"
#include "camsim/rtp_streamer.h"
#include "camsim/streaming_settings.h"
#include "camsim/tcp_server.h"
#include "camsim/web_api.h"

namespace camsim {

// The objects the server works with; all owned by the simulator and outliving the server.
struct RtspContext {
    const CameraConfig* config = nullptr;
    StreamingSettings* settings = nullptr;
    WebApi* webApi = nullptr;
    MediaLibrary* media = nullptr;
    RtpStreamer* streamer = nullptr;
    Faults* faults = nullptr;
};

class RtspServer {
public:
    explicit RtspServer(const RtspContext& context);
    ~RtspServer();

    bool Start(std::uint16_t port) { return m_server.Start(port); }
    void Stop();
    bool Relisten(std::uint16_t port) { return m_server.Relisten(port); }
    std::uint16_t Port() const { return m_server.Port(); }
    Authenticator& Auth() { return m_auth; }
    void DropConnections() { m_server.DropConnections(); }
    void ExpireSessions();
    std::size_t SessionCount();
    // "id=udp/RTP-RTCP" (client ports) or "id=tcp/RTP-RTCP" (channels) for every session.
    std::vector<std::string> SessionTransports();

    // Bytes that break the framing, between two frames of every connection that carries
    // interleaved channels; false when there is none.
    enum class BadFrame {
        kOversize,  // a frame of 65535 bytes, the most a header can state, on an RTP channel
        kChannel,   // a frame on a channel no session of the connection set up
        kGarbage,   // bytes that are neither a frame nor an RTSP message
    };
    bool InjectBadFrame(BadFrame kind);

    // The readers of what a client writes into its requests.
    struct Target {  // what a request URL names
        std::map<std::string, std::string> query;
        unsigned track = 1;
        bool describeForm = false;
    };
    static Target ParseTarget(const std::string& url);
    // The transport SETUP takes from a Transport header: the first of its choices (RFC 2326
    // section 12.39) that is unicast RTP/AVP over UDP with client_port=a[-b], or over TCP with
    // interleaved=a[-b] (a track's own pair, 2(K-1) and 2(K-1)+1, when not given). The second
    // port or channel defaults to the one after the first. False when none fits.
    struct TransportChoice {
        bool interleaved = false;
        std::uint16_t rtp = 0;  // client ports, or channels
        std::uint16_t rtcp = 0;
    };
    static bool ParseTransport(const std::string& header, unsigned track, bool udpAllowed, TransportChoice& choice);

private:
    struct Track {
        unsigned number = 0;  // trackID: 1 video, 2 audio, 3 metadata
        StreamId stream = 0;  // 0 for the tracks that carry no packets
    };
    struct Session {
        std::string id;  // as handed out, mixed case
        unsigned channel = 0;
        std::vector<Track> tracks;
        std::chrono::steady_clock::time_point lastRequest;
        const InterleavedLink* connection = nullptr;  // the link of the connection that made it
        std::string transport;  // of the video track, as SessionTransports shows it
    };
    struct Answer {
        int status = 200;
        std::vector<std::string> headers;
        std::string body;
        std::string contentType;
    };

    void Serve(Connection& connection, const std::atomic<bool>& stopping);
    bool Respond(Connection& connection, const std::shared_ptr<InterleavedLink>& link, const HttpRequest& request,
                 const std::atomic<bool>& stopping);
    Answer Handle(const HttpRequest& request, const std::shared_ptr<InterleavedLink>& link);
    Answer Describe(const HttpRequest& request, const Target& target);
    Answer Setup(const HttpRequest& request, const Target& target, const std::shared_ptr<InterleavedLink>& link);
    Answer Play(const HttpRequest& request, bool playing);
    Answer Teardown(const HttpRequest& request);
    Answer Touch(const HttpRequest& request);
    std::string NewSessionId();
    std::string BaseUrl(const StreamProfile& profile) const;
    void EndSession(const Session& session);
    void EndSessionsOf(const InterleavedLink* connection);

    RtspContext m_context;
    Authenticator m_auth;
    TcpServer m_server;
    std::mutex m_lock;
    std::map<std::string, Session> m_sessions;  // by lower-case id
    std::vector<std::shared_ptr<InterleavedLink>> m_links;  // one per open connection
};

}  // namespace camsim

#endif
