#include "rtsp/rtsp_client.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <random>

#include "rtsp/base64.h"
#include "rtsp/digest_auth.h"
#include "runtime/string_helpers.h"

namespace kestrel {
namespace {

constexpr std::size_t kReceiveChunk = 4096;
// Packets kept from an exchange for the receiving thread: a key frame's worth at most.
constexpr std::size_t kMaxEarlyFrames = 256;
constexpr std::uint32_t kInterruptPollMs = 100;

bool IsUrlSafe(std::string_view text) { return IsHeaderSafe(text) && text.find_first_of(" \t") == text.npos; }

void AppendNumber(std::string& text, std::uint32_t value) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) text += digits[--count];
}

// The inside of a quoted-string (RFC 7230 section 3.2.6).
void AppendQuoted(std::string& text, std::string_view value) {
    text += '"';
    for (char c : value) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
    }
    text += '"';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (a != prefix[i]) return false;
    }
    return true;
}

CBaseRTSPClient::CnonceSource RandomCnonceSource() {
    auto engine = std::make_shared<std::mt19937_64>(
        (std::uint64_t(std::random_device{}()) << 32) ^ std::uint64_t(std::random_device{}()) ^
        std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    return [engine]() {
        static const char kHex[] = "0123456789abcdef";
        std::uint64_t value = (*engine)();
        std::string text(16, '0');
        for (char& c : text) {
            c = kHex[value & 0x0F];
            value >>= 4;
        }
        return text;
    };
}

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(CnonceSource cnonceSource)
    : m_cnonceSource(cnonceSource ? std::move(cnonceSource) : RandomCnonceSource()),
      m_socketsStarted(platform::SocketsStartup()) {}

CBaseRTSPClient::~CBaseRTSPClient() {
    Disconnect();
    if (m_socketsStarted) platform::SocketsCleanup();
}

bool CBaseRTSPClient::Connect(const RTSPConnectSettings& settings) {
    if (m_connected) return true;
    if (m_interrupted || !m_socketsStarted) return false;
    m_settings = settings;
    std::uint32_t receiveTimeout = m_settings.receiveTimeout != 0 ? m_settings.receiveTimeout : kDefaultReceiveTimeout;
    {
        std::lock_guard<std::mutex> lock(m_socketLock);
        if (m_waitSet.Open() != platform::SocketError::kNone) return false;
        if (m_socket.Create() != platform::SocketError::kNone) return false;
    }
    std::uint32_t address = 0;
    bool ready = m_socket.SetReceiveBufferSize(m_settings.receiveBufferSize) == platform::SocketError::kNone &&
                 m_socket.SetReceiveTimeout(receiveTimeout) == platform::SocketError::kNone &&
                 m_socket.SetSendTimeout(receiveTimeout) == platform::SocketError::kNone &&
                 (m_settings.serverAddress != 0 ? (address = m_settings.serverAddress, true)
                                                : platform::ResolveIpv4(m_settings.host, address)) &&
                 m_socket.Connect({address, m_settings.serverPort}, m_settings.connectTimeout, &m_interrupted) ==
                     platform::SocketError::kNone;
    if (!ready || m_interrupted) {
        CloseSocket();
        return false;
    }
    m_receiveBuffer.clear();
    m_reader.Clear();
    // The channels SETUP asks for; those the server chooses instead are added by its answer.
    m_reader.ExpectChannel(0);
    m_reader.ExpectChannel(1);
    m_earlyFrames.clear();
    m_connected = true;
    return true;
}

void CBaseRTSPClient::Disconnect() {
    if (m_connected) {
        CloseSocket();
        m_connected = false;
    }
    m_interrupted = false;
}

void CBaseRTSPClient::CloseSocket() {
    std::lock_guard<std::mutex> lock(m_socketLock);
    m_socket.Close();
}

void CBaseRTSPClient::Interrupt() {
    m_interrupted = true;
    std::lock_guard<std::mutex> lock(m_socketLock);
    m_socket.Shutdown();
    // Winsock's select does not return for a shutdown.
    m_waitSet.Wake();
}

void CBaseRTSPClient::WakeInterleaved() {
    std::lock_guard<std::mutex> lock(m_socketLock);
    m_waitSet.Wake();
}

std::uint32_t CBaseRTSPClient::GetSessionTimeout() const {
    std::uint32_t seconds = m_parser.GetResponse().sessionTimeout;
    if (seconds == 0) seconds = m_settings.defaultSessionTimeout;
    std::uint64_t milliseconds = std::uint64_t(seconds) * 1000;
    return milliseconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(milliseconds);
}

bool CBaseRTSPClient::GetBasicCredentials(std::string& credentials) const {
    // RFC 7617: the user-id cannot hold a colon, the server splits at the first one. Line breaks
    // would survive Base64 into the camera's own parsing of the pair.
    if (m_settings.user.find(':') != std::string::npos || !IsHeaderSafe(m_settings.password)) return false;
    std::string pair;
    pair.reserve(m_settings.user.size() + 1 + m_settings.password.size());
    pair += m_settings.user;
    pair += ':';
    pair += m_settings.password;
    credentials = Base64Encode(pair);
    return true;
}

bool CBaseRTSPClient::AppendDigestAuthorization(std::string& text, RTSPMethod method, const std::string& uri) {
    const RTSPResponse& response = m_parser.GetResponse();
    if (response.authType != RTSPAuthType::kDigest || response.realm.empty() || response.nonce.empty() ||
        m_settings.user.empty() || m_settings.password.empty() || uri.empty())
        return false;
    if (!IsHeaderSafe(response.realm) || !IsHeaderSafe(response.nonce) || !IsHeaderSafe(response.opaque))
        return false;

    std::string cnonce;
    char nc[9] = {};
    if (response.qopAuth) {
        // RFC 7616 section 3.4: nc counts the requests made with this nonce, from 1.
        if (m_nonceCounted != response.nonce) {
            m_nonceCounted = response.nonce;
            m_nonceCount = 0;
        }
        ++m_nonceCount;
        static const char kHex[] = "0123456789abcdef";
        for (int i = 0; i < 8; ++i) nc[i] = kHex[(m_nonceCount >> (28 - 4 * i)) & 0x0F];
        cnonce = m_cnonceSource();
        if (cnonce.empty() || !IsHeaderSafe(cnonce)) return false;
    }

    DigestInput input;
    input.algorithm = response.digestAlgorithm;
    input.user = m_settings.user;
    input.realm = response.realm;
    input.password = m_settings.password;
    input.method = GetMethodName(method);
    input.uri = uri;
    input.nonce = response.nonce;
    if (response.qopAuth) {
        input.nonceCount = std::string_view(nc, 8);
        input.cnonce = cnonce;
    }

    text += "Authorization: Digest username=";
    if (response.userhash) {
        AppendQuoted(text, ComputeDigestUserHash(response.digestAlgorithm, m_settings.user, response.realm));
    } else {
        AppendQuoted(text, m_settings.user);
    }
    text += ", realm=";
    AppendQuoted(text, response.realm);
    text += ", nonce=";
    AppendQuoted(text, response.nonce);
    text += ", uri=";
    AppendQuoted(text, uri);
    text += ", response=\"";
    text += ComputeDigestResponse(input);
    text += '"';
    if (response.algorithmNamed) {
        text += ", algorithm=";
        text += GetDigestAlgorithmName(response.digestAlgorithm);
    }
    if (response.qopAuth) {
        text += ", qop=auth, nc=";
        text += nc;
        text += ", cnonce=";
        AppendQuoted(text, cnonce);
    }
    if (!response.opaque.empty()) {
        text += ", opaque=";
        AppendQuoted(text, response.opaque);
    }
    if (response.userhash) text += ", userhash=true";
    text += "\r\n";
    return true;
}

void CBaseRTSPClient::ComposeRequest(std::string& text, RTSPMethod method) {
    text.clear();
    const char* name = GetMethodName(method);
    if (*name == '\0') return;
    RTSPResponse& response = m_parser.GetResponse();

    const std::string* path = nullptr;
    switch (method) {
    case RTSPMethod::kDescribe:
    case RTSPMethod::kOptions: path = &m_settings.describePath; break;
    case RTSPMethod::kSetup: path = &m_settings.setupPath; break;
    case RTSPMethod::kPlay:
    case RTSPMethod::kPause: path = &m_settings.playPath; break;
    case RTSPMethod::kTeardown: path = &m_settings.teardownPath; break;
    }
    const std::string* control = nullptr;
    if (method == RTSPMethod::kSetup) {
        control = m_settings.track == RTSPTrack::kAudio      ? &response.audioControl
                  : m_settings.track == RTSPTrack::kMetadata ? &response.metadataControl
                                                             : &response.videoControl;
    }

    std::string& url = m_url;
    url.clear();
    if (control != nullptr && !path->empty() && StartsWithNoCase(*control, "rtsp://")) {
        url = *control;  // an absolute control names the track's URL itself (RFC 2326 C.1.1)
    } else {
        url += "rtsp://";
        url += m_settings.host;
        url += ':';
        AppendNumber(url, m_settings.serverPort);
        url += '/';
        if (!path->empty()) {
            url += *path;
            if (control != nullptr) {
                url += '/';
                url += *control;
            }
        }
    }
    if (!IsUrlSafe(url) || !IsHeaderSafe(response.session)) return;

    // The host's user name goes into a Digest header as it is: one that would break the line is
    // refused with the request, whichever scheme the camera asks for.
    if (m_settings.authType != RTSPAuthType::kNone && !IsHeaderSafe(m_settings.user)) return;
    std::string& authorization = m_authorization;
    authorization.clear();
    if (m_settings.authType == RTSPAuthType::kBasic) {
        std::string credentials;
        if (!GetBasicCredentials(credentials)) return;
        authorization += "Authorization: Basic ";
        authorization += credentials;
        authorization += "\r\n";
    } else if (m_settings.authType == RTSPAuthType::kDigest) {
        if (!AppendDigestAuthorization(authorization, method, url)) authorization.clear();
    }

    ++response.cseq;

    text.reserve(160 + url.size() + authorization.size() + response.session.size());
    text += name;
    text += ' ';
    text += url;
    text += " RTSP/1.0\r\nCSeq: ";
    AppendNumber(text, response.cseq);
    text += "\r\n";
    auto appendSession = [&] {
        text += "Session: ";
        text += response.session;
        text += "\r\n";
    };
    switch (method) {
    case RTSPMethod::kDescribe: text += "Accept: application/sdp\r\n"; break;
    case RTSPMethod::kSetup:
        if (m_settings.interleaved) {
            text += "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
            break;
        }
        text += "Transport: RTP/AVP/UDP;unicast;client_port=";
        AppendNumber(text, m_settings.clientRtpPort);
        text += '-';
        AppendNumber(text, m_settings.clientRtcpPort);
        text += "\r\n";
        break;
    case RTSPMethod::kPlay:
    case RTSPMethod::kPause:
        appendSession();
        text += "Range: npt=0.000-\r\n";
        break;
    case RTSPMethod::kTeardown:
    case RTSPMethod::kOptions: appendSession(); break;
    }
    text += authorization;
    text += "User-Agent: Kestrel\r\n\r\n";
}

bool CBaseRTSPClient::Transact(RTSPMethod method) {
    if (!m_connected || m_interrupted) return false;
    ComposeRequest(m_request, method);
    if (m_request.empty()) return false;
    // On an interleaved connection what came before is media, or answers told apart by CSeq.
    if (!m_settings.interleaved) DiscardUnread();
    if (!SendLocked(m_request.data(), m_request.size())) return false;
    std::string_view text;
    const std::uint32_t cseq = m_parser.GetResponse().cseq;
    if (!(m_settings.interleaved ? ReceiveInterleavedResponse(cseq, text) : ReceiveResponse(cseq, text))) return false;
    const bool parsed = m_parser.ParseResponse(method, text);
    const RTSPResponse& response = m_parser.GetResponse();
    if (method == RTSPMethod::kSetup && response.interleavedNamed) {
        m_reader.ExpectChannel(response.interleavedRtp);
        m_reader.ExpectChannel(response.interleavedRtcp);
    }
    return parsed;
}

bool CBaseRTSPClient::Post(RTSPMethod method) {
    if (!m_connected || m_interrupted) return false;
    ComposeRequest(m_request, method);
    return !m_request.empty() && SendLocked(m_request.data(), m_request.size());
}

bool CBaseRTSPClient::SendLocked(const char* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    std::size_t sent = 0;
    return m_socket.Send(data, size, sent) == platform::SocketError::kNone;
}

bool CBaseRTSPClient::SendInterleaved(std::uint8_t channel, const std::uint8_t* data, std::size_t length) {
    if (!m_connected || m_interrupted || length == 0 || length > 0xFFFF) return false;
    // One send for header and packet, so that no request can come between them.
    std::string frame(CInterleavedReader::kFrameHeaderLength + length, '\0');
    frame[0] = CInterleavedReader::kFrameMark;
    frame[1] = static_cast<char>(channel);
    frame[2] = static_cast<char>(length >> 8);
    frame[3] = static_cast<char>(length & 0xFF);
    std::memcpy(&frame[CInterleavedReader::kFrameHeaderLength], data, length);
    return SendLocked(frame.data(), frame.size());
}

platform::SocketError CBaseRTSPClient::ReceiveIntoReader(std::uint32_t waitMs) {
    char* room = m_reader.Prepare(kReceiveChunk);
    std::size_t received = 0;
    const platform::SocketError error = m_socket.Receive(room, kReceiveChunk, received, waitMs);
    m_reader.Commit(received);
    return error;
}

void CBaseRTSPClient::KeepEarlyFrame(const InterleavedItem& frame) {
    if (m_earlyFrames.size() < kMaxEarlyFrames) m_earlyFrames.emplace_back(frame.channel, std::string(frame.data));
}

bool CBaseRTSPClient::AnswerServerRequest(std::string_view message) {
    if (message.substr(0, 5) == "RTSP/") return false;
    std::uint32_t cseq = 0;
    if (!CRTSPResponseParser::FindCSeq(message, cseq)) return true;  // cannot be answered
    // RFC 2326 section 10: a client needs to support none of a server's requests; OPTIONS and
    // GET_PARAMETER are its keep-alive pings and get their 200.
    const bool ping = message.substr(0, 8) == "OPTIONS " || message.substr(0, 14) == "GET_PARAMETER ";
    std::string answer = ping ? "RTSP/1.0 200 OK\r\nCSeq: " : "RTSP/1.0 501 Not Implemented\r\nCSeq: ";
    AppendNumber(answer, cseq);
    answer += "\r\n\r\n";
    SendLocked(answer.data(), answer.size());
    return true;
}

bool CBaseRTSPClient::ReceiveInterleavedResponse(std::uint32_t cseq, std::string_view& text) {
    std::uint32_t timeout = m_settings.receiveTimeout != 0 ? m_settings.receiveTimeout : kDefaultReceiveTimeout;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        InterleavedItem item;
        while (m_reader.Next(item)) {
            if (item.kind == InterleavedItem::Kind::kFrame) {
                KeepEarlyFrame(item);
                continue;
            }
            if (AnswerServerRequest(item.data)) continue;
            std::uint32_t answered = 0;
            if (!CRTSPResponseParser::FindCSeq(item.data, answered) || answered == cseq) {
                text = item.data;
                return true;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (m_interrupted || left.count() <= 0) return false;
        const std::uint32_t slice = left.count() < kInterruptPollMs ? static_cast<std::uint32_t>(left.count())
                                                                     : kInterruptPollMs;
        const platform::SocketError error = ReceiveIntoReader(slice);
        if (error != platform::SocketError::kNone && error != platform::SocketError::kTimedOut) return false;
    }
}

InterleavedReceive CBaseRTSPClient::ReceiveInterleaved(IInterleavedSink& sink, std::uint32_t waitMs) {
    for (const auto& early : m_earlyFrames) {
        sink.OnInterleavedFrame(early.first, reinterpret_cast<const std::uint8_t*>(early.second.data()),
                                early.second.size());
    }
    m_earlyFrames.clear();
    if (!m_connected || m_interrupted) return InterleavedReceive::kClosed;
    // What an exchange left in the reader (the packets behind PLAY's answer) comes first.
    if (DispatchBuffered(sink)) return InterleavedReceive::kReceived;
    bool readable = false;
    const platform::SocketError waited = m_waitSet.Wait(m_socket, waitMs, readable);
    if (waited == platform::SocketError::kClosed) return InterleavedReceive::kClosed;
    // A wake, the time-out, or a passing failure of the wait.
    if (!readable) return m_interrupted ? InterleavedReceive::kClosed : InterleavedReceive::kIdle;
    const platform::SocketError error = ReceiveIntoReader(0);
    if (error == platform::SocketError::kTimedOut) return InterleavedReceive::kIdle;
    if (error != platform::SocketError::kNone) return InterleavedReceive::kClosed;
    DispatchBuffered(sink);
    return InterleavedReceive::kReceived;
}

bool CBaseRTSPClient::DispatchBuffered(IInterleavedSink& sink) {
    const std::uint64_t resyncs = m_reader.Resyncs();
    bool any = false;
    InterleavedItem item;
    while (m_reader.Next(item)) {
        any = true;
        if (item.kind == InterleavedItem::Kind::kFrame) {
            sink.OnInterleavedFrame(item.channel, reinterpret_cast<const std::uint8_t*>(item.data.data()),
                                    item.data.size());
        } else if (!AnswerServerRequest(item.data)) {
            ++m_answersTaken;
        }
    }
    if (m_reader.Resyncs() != resyncs) sink.OnInterleavedResync();
    return any;
}

bool CBaseRTSPClient::Execute(RTSPMethod method) {
    if (!Transact(method)) return false;
    bool retried = false;
    int staleRetries = 0;
    for (;;) {
        const RTSPResponse& response = m_parser.GetResponse();
        if (response.statusCode != 401 || response.authType == RTSPAuthType::kNone) return true;
        // RFC 7616 section 3.3: stale=true refuses only the nonce, not the credentials, so
        // the retry with the new one is no second login attempt.
        bool staleNonce = response.stale && m_settings.authType == RTSPAuthType::kDigest;
        if (staleNonce && staleRetries < kMaxStaleRetries) {
            ++staleRetries;
        } else if (retried) {
            return true;  // a second refusal stands as the answer
        } else if (response.authType == m_settings.authType && response.authType != RTSPAuthType::kDigest) {
            return true;  // the same Basic credentials would be refused again
        } else {
            retried = true;
        }
        m_settings.authType = response.authType;
        if (!Transact(method)) return false;
    }
}

void CBaseRTSPClient::DiscardUnread() {
    // The client never pipelines: whatever came before the request answers no request of ours.
    m_receiveBuffer.clear();
    char scrap[kReceiveChunk];
    for (std::size_t discarded = 0; discarded < kMaxResponseSize;) {
        std::size_t received = 0;
        if (m_socket.Receive(scrap, sizeof scrap, received, 0) != platform::SocketError::kNone) return;
        discarded += received;
    }
}

bool CBaseRTSPClient::ReceiveResponse(std::uint32_t cseq, std::string_view& text) {
    // One deadline for the whole response, however many segments it comes in.
    std::uint32_t timeout = m_settings.receiveTimeout != 0 ? m_settings.receiveTimeout : kDefaultReceiveTimeout;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        RTSPFraming framing = CRTSPResponseParser::FrameResponse(m_receiveBuffer);
        if (framing.status == RTSPFraming::Status::kComplete) {
            text = std::string_view(m_receiveBuffer).substr(framing.start, framing.length);
            std::uint32_t answered = 0;
            // An answer to an earlier request (sent twice, or late after its time-out) is
            // skipped; one without a CSeq cannot be told apart and is taken.
            if (!CRTSPResponseParser::FindCSeq(text, answered) || answered == cseq) return true;
            m_receiveBuffer.erase(0, framing.start + framing.length);
            continue;
        }
        if (framing.status == RTSPFraming::Status::kInvalid || m_receiveBuffer.size() >= kMaxResponseSize ||
            m_interrupted)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        std::size_t old = m_receiveBuffer.size();
        std::size_t chunk = kMaxResponseSize - old < kReceiveChunk ? kMaxResponseSize - old : kReceiveChunk;
        m_receiveBuffer.resize(old + chunk);
        // Waits in short slices so that Interrupt() ends the wait whether or not the system
        // wakes a blocked wait on a socket that another thread shut down.
        std::uint32_t slice = left.count() < kInterruptPollMs ? static_cast<std::uint32_t>(left.count())
                                                               : kInterruptPollMs;
        std::size_t received = 0;
        platform::SocketError error = m_socket.Receive(&m_receiveBuffer[old], chunk, received, slice);
        m_receiveBuffer.resize(old + received);
        if (error != platform::SocketError::kNone && error != platform::SocketError::kTimedOut) break;
    }
    // Whatever came of a failed response would spoil the next one.
    m_receiveBuffer.clear();
    return false;
}

}  // namespace kestrel
