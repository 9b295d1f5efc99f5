// RTSP/1.0 client for one camera stream over one TCP connection: composes each request,
// sends it, reads the whole answer and hands it to its response parser, and answers a 401
// with Basic or Digest credentials once.
//
// Threading: one thread (the channel's worker) makes every call, except Interrupt(), which any
// thread may call to cut a blocked Connect or exchange short, and, while an interleaved session
// streams, ReceiveInterleaved and SendInterleaved, which one receiving thread calls beside the
// owner's Post. Failures are false results; no exception leaves the client and it writes no
// messages.
#ifndef QUILLON_RTSP_RTSP_CLIENT_H
#define QUILLON_RTSP_RTSP_CLIENT_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/socket_wait_set.h"
#include "platform/tcp_socket.h"
#include "rtsp/interleaved_reader.h"
#include "rtsp/rtsp_response_parser.h"

namespace kestrel {

enum class RTSPTrack : std::uint32_t { kVideo = 0, kAudio = 1, kMetadata = 2 };

struct RTSPConnectSettings {
    std::uint16_t serverPort = 554;
    std::uint16_t clientRtpPort = 0;
    std::uint16_t clientRtcpPort = 0;
    std::string host;
    // The host's IPv4 address (host order) when the caller has resolved it already, so that a
    // name lookup, which cannot be interrupted, does not hold Connect; 0: Connect resolves host.
    std::uint32_t serverAddress = 0;
    std::string user;
    std::string password;
    std::uint32_t connectTimeout = 5000;     // ms
    std::uint32_t receiveTimeout = 5000;     // ms, for a whole response; 0 takes the default
    std::uint32_t receiveBufferSize = 65536;  // bytes
    std::uint32_t defaultSessionTimeout = 60;  // s, when the camera names none
    RTSPAuthType authType = RTSPAuthType::kNone;  // updated by the client after a 401
    RTSPTrack track = RTSPTrack::kVideo;
    std::string describePath;  // DESCRIBE and OPTIONS
    std::string setupPath;
    std::string playPath;  // PLAY and PAUSE
    std::string teardownPath;
    // RTP and RTCP inside the RTSP connection (RFC 2326 section 10.12): SETUP asks for them on
    // channels 0 and 1 instead of naming client ports.
    bool interleaved = false;
};

// Where the media of an interleaved session go; called on the thread that receives.
class IInterleavedSink {
public:
    // One `$`-framed packet; `data` lives only during the call.
    virtual void OnInterleavedFrame(std::uint8_t channel, const std::uint8_t* data, std::size_t length) = 0;
    // Bytes that were neither a packet nor an RTSP message were skipped (once per run of them).
    virtual void OnInterleavedResync() = 0;

protected:
    ~IInterleavedSink() = default;
};

enum class InterleavedReceive { kReceived, kIdle, kClosed };

class CBaseRTSPClient {
public:
    // Makes the client nonce of each Digest answer with qop.
    using CnonceSource = std::function<std::string()>;

    static constexpr std::uint32_t kDefaultReceiveTimeout = 5000;
    // A response larger than this (headers and body) is refused.
    static constexpr std::size_t kMaxResponseSize = 64 * 1024;
    // 401s with stale=true retried within one Execute, besides the one retry for credentials.
    static constexpr int kMaxStaleRetries = 2;

    // An empty source takes random 16-hex-digit nonces.
    explicit CBaseRTSPClient(CnonceSource cnonceSource = CnonceSource());
    virtual ~CBaseRTSPClient();
    CBaseRTSPClient(const CBaseRTSPClient&) = delete;
    CBaseRTSPClient& operator=(const CBaseRTSPClient&) = delete;

    // True at once when already connected (the new settings are then ignored).
    bool Connect(const RTSPConnectSettings& settings);
    void Disconnect();
    bool IsConnected() const { return m_connected; }

    // One request and its answer, with one retry after a 401 that offers credentials we can
    // give, and a few more after 401s that only call the Digest nonce stale. True when an
    // answer was received and parsed; the caller reads statusCode.
    bool Execute(RTSPMethod method);
    // One request and the answer that carries its CSeq, without retry.
    bool Transact(RTSPMethod method);
    // The request text of `method`; empty when none can be composed. Counts the CSeq up.
    virtual void ComposeRequest(std::string& text, RTSPMethod method);

    // Cuts a blocked Connect or exchange short from any thread; every later one fails until
    // Disconnect.
    void Interrupt();

    // Interleaved sessions. The transport SETUP asks for from now on.
    void SetInterleaved(bool interleaved) { m_settings.interleaved = interleaved; }
    // While one thread receives the media with ReceiveInterleaved, the owner sends its
    // requests with Post, whose answers that thread takes; Execute is for when none receives.
    // Post: the request, without waiting for its answer. False when it could not be sent.
    bool Post(RTSPMethod method);
    // Waits up to `waitMs` for bytes and hands every complete packet in them to `sink`. Answers
    // are counted (AnswersTaken) and a server's own requests answered. kClosed when the
    // connection ended, failed or was interrupted. kIdle also after WakeInterleaved. `waitMs`
    // may be platform::SocketWaitSet::kInfinite.
    InterleavedReceive ReceiveInterleaved(IInterleavedSink& sink, std::uint32_t waitMs);
    // Ends the wait of ReceiveInterleaved at once, or that of its next call; from any thread.
    void WakeInterleaved();
    // One packet on `channel`; any thread, serialised with the requests. False when not sent.
    bool SendInterleaved(std::uint8_t channel, const std::uint8_t* data, std::size_t length);
    // Answers that reached ReceiveInterleaved; from any thread.
    std::uint64_t AnswersTaken() const { return m_answersTaken.load(); }

    // Milliseconds: the camera's session time-out, or the default when it named none.
    std::uint32_t GetSessionTimeout() const;

    RTSPResponse& GetResponse() { return m_parser.GetResponse(); }
    const RTSPConnectSettings& GetSettings() const { return m_settings; }

private:
    void DiscardUnread();
    bool ReceiveResponse(std::uint32_t cseq, std::string_view& text);
    bool ReceiveInterleavedResponse(std::uint32_t cseq, std::string_view& text);
    platform::SocketError ReceiveIntoReader(std::uint32_t waitMs);
    bool SendLocked(const char* data, std::size_t size);
    // Hands every complete item in the reader on; false when there was none.
    bool DispatchBuffered(IInterleavedSink& sink);
    // A request from the server gets its answer; false for anything else.
    bool AnswerServerRequest(std::string_view message);
    void KeepEarlyFrame(const InterleavedItem& frame);
    bool GetBasicCredentials(std::string& credentials) const;
    bool AppendDigestAuthorization(std::string& text, RTSPMethod method, const std::string& uri);
    void CloseSocket();

    RTSPConnectSettings m_settings;
    CRTSPResponseParser m_parser;
    CnonceSource m_cnonceSource;
    platform::TcpSocket m_socket;
    std::mutex m_socketLock;  // guards m_socket's handle against Interrupt() while it closes
    // The interleaved receive waits here so that a stop need not wait for a time-out; opened
    // with the first connection (under m_socketLock), closed with the client.
    platform::SocketWaitSet m_waitSet;
    std::atomic<bool> m_interrupted{false};
    // The socket library is counted per user, so the client holds its own reference.
    bool m_socketsStarted = false;
    bool m_connected = false;

    std::string m_request;  // these three are reused for every request
    std::string m_url;
    std::string m_authorization;
    std::string m_receiveBuffer;  // bytes received since the last request was sent

    // Interleaved sessions: the receiving thread's reader, and the packets that arrived while
    // an exchange waited for its answer (before PLAY's answer, say), delivered first.
    CInterleavedReader m_reader;
    std::vector<std::pair<std::uint8_t, std::string>> m_earlyFrames;
    std::mutex m_sendLock;  // one message at a time on the connection
    std::atomic<std::uint64_t> m_answersTaken{0};

    std::string m_nonceCounted;  // the Digest nonce that m_nonceCount counts uses of
    std::uint32_t m_nonceCount = 0;
};

}  // namespace kestrel

#endif
