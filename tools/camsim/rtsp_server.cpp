#include "camsim/rtsp_server.h"

#include <algorithm>
#include <random>
#include <thread>

#include "camsim/text.h"

namespace camsim {
namespace {

constexpr std::size_t kMaxSessions = 1024;
constexpr int kReceivePollMs = 200;
constexpr int kFlushPollMs = 10;
constexpr int kStallPollMs = 20;
constexpr unsigned kTrackVideo = 1;
constexpr unsigned kTrackAudio = 2;
constexpr unsigned kTrackMetadata = 3;
constexpr const char* kPublic = "OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN, GET_PARAMETER, SET_PARAMETER";

std::mt19937& Random() {
    thread_local std::mt19937 random(std::random_device{}());
    return random;
}

// The session part of a Session header: "id" or "id;timeout=60".
std::string SessionKey(const HttpRequest& request) {
    return Lower(Trim(request.Header("Session").substr(0, request.Header("Session").find(';'))));
}

std::string Sdp(const StreamProfile& profile, const MediaClip& clip, const CameraConfig& config) {
    std::string sdp = "v=0\r\no=- " + std::to_string(Random()() % 1000000000) +
                      " 1 IN IP4 127.0.0.1\r\ns=camsim " + profile.channelName +
                      "\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\na=range:npt=0-\r\n";
    sdp += "m=video 0 RTP/AVP " + std::to_string(clip.payloadType) + "\r\na=control:trackID=1\r\n" + clip.sdpMedia;
    sdp += "a=framerate:" + std::to_string(profile.frameRate) + "\r\n";
    sdp += "a=x-dimensions:" + std::to_string(clip.width) + "," + std::to_string(clip.height) + "\r\n";
    if (config.audioTrack) sdp += "m=audio 0 RTP/AVP 0\r\na=control:trackID=2\r\na=rtpmap:0 PCMU/8000\r\n";
    if (config.metadataTrack)
        sdp += "m=metadata 0 RTP/AVP 107\r\na=control:trackID=3\r\na=rtpmap:107 vnd.onvif.metadata/90000\r\n";
    return sdp;
}

std::string MethodOf(const HttpRequest& request) { return request.method; }

// "a" or "a-b", a in low..limit-1 and b in low..limit; b defaults to a + 1, also when out of
// range, as clients write "5000-0" and such.
bool ParseRange(const std::string& text, unsigned low, unsigned limit, std::uint16_t& first, std::uint16_t& second) {
    std::vector<std::string> pair = Split(text, '-');
    unsigned a = 0, b = 0;
    if (!ParseNumber(pair[0], a) || a < low || a >= limit) return false;
    if (pair.size() < 2 || !ParseNumber(pair[1], b) || b < low || b > limit) b = a + 1;
    first = static_cast<std::uint16_t>(a);
    second = static_cast<std::uint16_t>(b);
    return true;
}

// One transport of the list: "RTP/AVP[/UDP|/TCP];unicast;client_port=..|interleaved=..;...".
bool ParseOneTransport(const std::string& transport, unsigned track, bool udpAllowed,
                       RtspServer::TransportChoice& choice) {
    std::vector<std::string> parts = Split(transport, ';');
    const std::string protocol = Lower(Trim(parts[0]));
    if (protocol == "rtp/avp/tcp") choice.interleaved = true;
    else if (protocol != "rtp/avp" && protocol != "rtp/avp/udp") return false;
    if (!choice.interleaved && !udpAllowed) return false;
    bool haveRange = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string part = Trim(parts[i]);
        std::size_t equals = part.find('=');
        std::string name = Lower(part.substr(0, equals));
        std::string value = equals == std::string::npos ? std::string() : part.substr(equals + 1);
        if (name == "multicast") return false;
        if (!choice.interleaved && name == "client_port")
            haveRange = ParseRange(value, 1, 65535, choice.rtp, choice.rtcp);
        if (choice.interleaved && name == "interleaved")
            haveRange = ParseRange(value, 0, 255, choice.rtp, choice.rtcp);
        if (name == (choice.interleaved ? "interleaved" : "client_port") && !haveRange) return false;
    }
    if (choice.interleaved && !haveRange) {
        if (track == 0 || track > 127) return false;
        choice.rtp = static_cast<std::uint16_t>(2 * (track - 1));
        choice.rtcp = static_cast<std::uint16_t>(choice.rtp + 1);
        haveRange = true;
    }
    return haveRange;
}

std::string RandomBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(Random()());
    return bytes;
}

std::string FrameHeader(int channel, std::size_t size) {
    return std::string{'$', static_cast<char>(channel), static_cast<char>(size >> 8), static_cast<char>(size & 0xFF)};
}

std::string BadFrameBytes(RtspServer::BadFrame kind, InterleavedLink& link) {
    constexpr std::size_t kOversize = 0xFFFF;
    constexpr std::size_t kShort = 100;
    switch (kind) {
    case RtspServer::BadFrame::kOversize: return FrameHeader(link.FirstChannel(), kOversize) + RandomBytes(kOversize);
    case RtspServer::BadFrame::kChannel: return FrameHeader(link.UnusedChannel(), kShort) + RandomBytes(kShort);
    case RtspServer::BadFrame::kGarbage: break;
    }
    // Nothing a reader could take for the start of a frame or of a message.
    std::string bytes = RandomBytes(kShort);
    for (char& c : bytes)
        if (c == '$' || c == 'R') c = '#';
    return bytes;
}

}  // namespace

RtspServer::RtspServer(const RtspContext& context)
    : m_context(context),
      m_auth(context.config->rtspAuth, context.config->realm, context.config->user, context.config->password),
      m_server([this](Connection& connection, const std::atomic<bool>& stopping) { Serve(connection, stopping); }) {}

RtspServer::~RtspServer() { Stop(); }

void RtspServer::Stop() {
    m_server.Stop();
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& entry : m_sessions) EndSession(entry.second);
    m_sessions.clear();
}

void RtspServer::Serve(Connection& connection, const std::atomic<bool>& stopping) {
    auto link = std::make_shared<InterleavedLink>(connection, *m_context.faults);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_links.push_back(link);
    }
    std::string buffer;
    while (!stopping) {
        if (m_context.faults->IsOn(Switch::kStallRtsp)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kStallPollMs));
            continue;
        }
        std::uint8_t channel = 0;
        std::string frame;
        FrameResult framed = TakeInterleavedFrame(buffer, channel, frame);
        if (framed == FrameResult::kFrame) {
            // Only RTCP comes from a client inside the connection; it counts for the link's streams.
            m_context.streamer->NoteInterleavedReports(*link, reinterpret_cast<const std::uint8_t*>(frame.data()),
                                                       frame.size());
            continue;
        }
        if (framed == FrameResult::kNotAFrame) {
            HttpRequest request;
            ParseResult parsed = ParseRequest(buffer, request, "RTSP/");
            if (parsed == ParseResult::kMalformed) break;
            if (parsed == ParseResult::kRequest) {
                if (!Respond(connection, link, request, stopping)) break;
                continue;
            }
        }
        bool timedOut = false;
        // While answers or media wait for room, come back soon to send them.
        if (!connection.ReceiveSome(buffer, link->HasPending() ? kFlushPollMs : kReceivePollMs, timedOut)) break;
        if (!link->Flush()) break;
    }
    EndSessionsOf(link.get());
    link->Close();
    std::lock_guard<std::mutex> guard(m_lock);
    m_links.erase(std::find(m_links.begin(), m_links.end(), link));
}

bool RtspServer::Respond(Connection& connection, const std::shared_ptr<InterleavedLink>& link,
                         const HttpRequest& request, const std::atomic<bool>& stopping) {
    AnswerOverride override = m_context.faults->AnswerFor(Protocol::kRtsp, MethodOf(request));
    if (!DelayAnswer(connection, override, stopping)) return false;
    if (override.garbage) return link->QueueBytes(GarbageBytes()) && link->Flush();
    Answer answer = Handle(request, link);
    if (override.status != 0) answer = Answer{override.status, {}, {}, {}};
    std::string text = "RTSP/1.0 " + std::to_string(answer.status) + " " + ReasonPhrase(answer.status) +
                       "\r\nCSeq: " + request.Header("CSeq") + "\r\nServer: camsim\r\n";
    for (const std::string& line : answer.headers) text += line + "\r\n";
    if (!answer.body.empty())
        text += "Content-Type: " + answer.contentType + "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                "\r\n";
    text += "\r\n" + answer.body;
    return link->QueueBytes(text) && link->Flush();
}

bool RtspServer::ParseTransport(const std::string& header, unsigned track, bool udpAllowed, TransportChoice& choice) {
    for (const std::string& transport : Split(header, ',')) {
        choice = TransportChoice();
        if (ParseOneTransport(transport, track, udpAllowed, choice)) return true;
    }
    choice = TransportChoice();
    return false;
}

RtspServer::Target RtspServer::ParseTarget(const std::string& url) {
    Target target;
    std::string rest = url;
    if (Lower(rest.substr(0, 7)) == "rtsp://") {
        std::size_t slash = rest.find('/', 7);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    }
    std::size_t control = rest.find("/trackID=");
    if (control != std::string::npos) {
        ParseNumber(rest.substr(control + 9), target.track);
        rest.resize(control);
    }
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    const std::string describePrefix = "StreamingSetting?";
    if (rest.compare(0, describePrefix.size(), describePrefix) == 0) {
        target.describeForm = true;
        rest.erase(0, describePrefix.size());
    }
    target.query = ParseQuery(rest);
    return target;
}

RtspServer::Answer RtspServer::Handle(const HttpRequest& request, const std::shared_ptr<InterleavedLink>& link) {
    if (request.Header("CSeq").empty()) return {400, {}, {}, {}};
    std::vector<std::string> challenges;
    if (!m_auth.Admit(request.method, request.Header("Authorization"), challenges)) return {401, challenges, {}, {}};
    Target target = ParseTarget(request.target);
    const std::string& method = request.method;
    if (method == "OPTIONS") {
        Answer answer = Touch(request);
        answer.status = 200;
        answer.headers.push_back(std::string("Public: ") + kPublic);
        return answer;
    }
    if (method == "DESCRIBE") return Describe(request, target);
    if (method == "SETUP") return Setup(request, target, link);
    if (method == "PLAY") return Play(request, true);
    if (method == "PAUSE") return Play(request, false);
    if (method == "TEARDOWN") return Teardown(request);
    if (method == "GET_PARAMETER" || method == "SET_PARAMETER") return Touch(request);
    return {501, {}, {}, {}};
}

std::string RtspServer::BaseUrl(const StreamProfile& profile) const {
    return "rtsp://127.0.0.1:" + std::to_string(Port()) + "/ChannelID=" + profile.channelID +
           "&ChannelName=" + profile.channelName + "/";
}

RtspServer::Answer RtspServer::Describe(const HttpRequest& request, const Target& target) {
    auto field = [&](const char* name) {
        auto found = target.query.find(name);
        return found == target.query.end() ? std::string() : found->second;
    };
    if (!target.describeForm || field("action") != "getRTSPStream") return {404, {}, {}, {}};
    if (!m_context.webApi->IsSession(field("sessionID"))) return {403, {}, {}, {}};
    std::optional<StreamProfile> profile = m_context.settings->Find(field("ChannelID"), field("ChannelName"));
    if (!profile) return {404, {}, {}, {}};
    if (!profile->enabled) return {503, {}, {}, {}};
    const MediaClip* clip = m_context.media->Find(profile->videoCodecType, profile->width, profile->height);
    if (clip == nullptr) return {415, {}, {}, {}};
    return {200, {"Content-Base: " + BaseUrl(*profile)}, Sdp(*profile, *clip, *m_context.config), "application/sdp"};
}

std::string RtspServer::NewSessionId() {
    static const char kCharacters[] = "0123456789abcdefABCDEF";
    std::string id(12, '0');
    for (char& c : id) c = kCharacters[Random()() % 22];
    // Both cases always appear, so a client that changes the case is seen doing it.
    id[0] = 'a';
    id[1] = 'B';
    return id;
}

RtspServer::Answer RtspServer::Setup(const HttpRequest& request, const Target& target,
                                     const std::shared_ptr<InterleavedLink>& link) {
    TransportChoice transport;
    const int refusal = m_context.faults->IsOn(Switch::kRefuseWith406) ? 406 : 461;
    if (!ParseTransport(request.Header("Transport"), target.track, !m_context.faults->IsOn(Switch::kRefuseUdp),
                        transport))
        return {refusal, {}, {}, {}};
    if (transport.interleaved && m_context.faults->IsOn(Switch::kRefuseTcp)) return {refusal, {}, {}, {}};
    auto id = target.query.find("ChannelID");
    auto name = target.query.find("ChannelName");
    if (id == target.query.end() || name == target.query.end()) return {404, {}, {}, {}};
    std::optional<StreamProfile> profile = m_context.settings->Find(id->second, name->second);
    bool trackExists = target.track == kTrackVideo || (target.track == kTrackAudio && m_context.config->audioTrack) ||
                       (target.track == kTrackMetadata && m_context.config->metadataTrack);
    if (!profile || !trackExists) return {404, {}, {}, {}};

    std::lock_guard<std::mutex> guard(m_lock);
    std::string key = SessionKey(request);
    if (!key.empty() && m_sessions.count(key) == 0) return {454, {}, {}, {}};
    if (key.empty() && m_sessions.size() >= kMaxSessions) return {503, {}, {}, {}};
    if (key.empty()) {
        Session session;
        session.id = NewSessionId();
        session.channel = profile->number;
        session.connection = link.get();
        key = Lower(session.id);
        m_sessions[key] = session;
    }
    Session& session = m_sessions[key];
    session.lastRequest = std::chrono::steady_clock::now();
    Track track;
    track.number = target.track;
    std::uint32_t ssrc = Random()();
    if (target.track == kTrackVideo) {
        StreamStart start;
        start.clip = m_context.media->Find(profile->videoCodecType, profile->width, profile->height);
        if (start.clip == nullptr) return {415, {}, {}, {}};
        start.frameRate = profile->frameRate;
        if (transport.interleaved) {
            start.link = link;
            start.rtpChannel = static_cast<std::uint8_t>(transport.rtp);
            start.rtcpChannel = static_cast<std::uint8_t>(transport.rtcp);
        } else {
            start.rtp = {link->Peer().address, transport.rtp};
            start.rtcp = {link->Peer().address, transport.rtcp};
        }
        start.ssrc = ssrc;
        start.firstSequence = static_cast<std::uint16_t>(Random()());
        start.firstTimestamp = Random()();
        track.stream = m_context.streamer->Add(start);
        session.transport = std::string(transport.interleaved ? "tcp/" : "udp/") + std::to_string(transport.rtp) +
                            "-" + std::to_string(transport.rtcp);
    }
    if (transport.interleaved)
        link->Claim(static_cast<std::uint8_t>(transport.rtp), static_cast<std::uint8_t>(transport.rtcp));
    session.tracks.push_back(track);
    const std::string pair = std::to_string(transport.rtp) + "-" + std::to_string(transport.rtcp);
    std::string reply = transport.interleaved
                            ? "Transport: RTP/AVP/TCP;unicast;interleaved=" + pair
                            : "Transport: RTP/AVP;unicast;client_port=" + pair + ";server_port=" +
                                  std::to_string(m_context.streamer->RtpPort()) + "-" +
                                  std::to_string(m_context.streamer->RtcpPort());
    reply += ";ssrc=" + HexText(ssrc, 8);
    return {200,
            {reply, "Session: " + session.id + ";timeout=" + std::to_string(m_context.config->sessionTimeoutS)},
            {},
            {}};
}

RtspServer::Answer RtspServer::Play(const HttpRequest& request, bool playing) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_sessions.find(SessionKey(request));
    if (found == m_sessions.end()) return {454, {}, {}, {}};
    Session& session = found->second;
    session.lastRequest = std::chrono::steady_clock::now();
    for (const Track& track : session.tracks)
        if (track.stream != 0) m_context.streamer->Play(track.stream, playing);
    Answer answer{200, {"Session: " + session.id}, {}, {}};
    if (playing) answer.headers.push_back("Range: npt=0.000-");
    return answer;
}

RtspServer::Answer RtspServer::Teardown(const HttpRequest& request) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_sessions.find(SessionKey(request));
    if (found == m_sessions.end()) return {454, {}, {}, {}};
    EndSession(found->second);
    m_sessions.erase(found);
    return {200, {}, {}, {}};
}

RtspServer::Answer RtspServer::Touch(const HttpRequest& request) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::string key = SessionKey(request);
    if (key.empty()) return {200, {}, {}, {}};
    auto found = m_sessions.find(key);
    if (found == m_sessions.end()) return {454, {}, {}, {}};
    found->second.lastRequest = std::chrono::steady_clock::now();
    return {200, {"Session: " + found->second.id + ";timeout=" + std::to_string(m_context.config->sessionTimeoutS)},
            {}, {}};
}

void RtspServer::EndSession(const Session& session) {
    for (const Track& track : session.tracks)
        if (track.stream != 0) m_context.streamer->Remove(track.stream);
}

void RtspServer::EndSessionsOf(const InterleavedLink* connection) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second.connection == connection) {
            EndSession(it->second);
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
}

void RtspServer::ExpireSessions() {
    const auto now = std::chrono::steady_clock::now();
    const auto timeout = std::chrono::seconds(m_context.config->sessionTimeoutS);
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        auto last = it->second.lastRequest;
        for (const Track& track : it->second.tracks)
            if (track.stream != 0) last = std::max(last, m_context.streamer->LastReportFrom(track.stream));
        if (now - last > timeout) {
            EndSession(it->second);
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t RtspServer::SessionCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions.size();
}

std::vector<std::string> RtspServer::SessionTransports() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> transports;
    for (const auto& entry : m_sessions)
        transports.push_back(entry.second.id + "=" +
                             (entry.second.transport.empty() ? std::string("none") : entry.second.transport));
    return transports;
}

bool RtspServer::InjectBadFrame(BadFrame kind) {
    std::vector<std::shared_ptr<InterleavedLink>> links;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& link : m_links)
            if (link->Carries()) links.push_back(link);
    }
    for (const auto& link : links) {
        std::string bytes = BadFrameBytes(kind, *link);
        if (link->QueueBytes(bytes)) link->Flush();
    }
    return !links.empty();
}

}  // namespace camsim
