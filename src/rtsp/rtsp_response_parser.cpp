#include "rtsp/rtsp_response_parser.h"

#include <cstring>
#include <vector>

#include "runtime/auth_challenge.h"

namespace kestrel {
namespace {

constexpr std::size_t kMaxToken = 255;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Decimal digits only, no sign, fitting `limit`.
bool ParseUnsigned(std::string_view text, std::uint32_t limit, std::uint32_t& value) {
    if (text.empty()) return false;
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + std::uint64_t(c - '0');
        if (result > limit) return false;
    }
    value = static_cast<std::uint32_t>(result);
    return true;
}

std::string_view FirstToken(std::string_view text) {
    std::size_t end = 0;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    return text.substr(0, end);
}

// The value of a header line: everything after the first colon, blanks trimmed.
std::string_view HeaderValue(std::string_view line) {
    std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view() : CRTSPResponseParser::Trim(line.substr(colon + 1));
}

struct HeaderName {
    const char* name;
    RTSPHeaderKind kind;
};

constexpr HeaderName kHeaderNames[] = {
    {"CSeq", RTSPHeaderKind::kCSeq},
    {"Date", RTSPHeaderKind::kDate},
    {"Content-Base", RTSPHeaderKind::kContentBase},
    {"Content-Type", RTSPHeaderKind::kContentType},
    {"Content-Length", RTSPHeaderKind::kContentLength},
    {"Transport", RTSPHeaderKind::kTransport},
    {"Session", RTSPHeaderKind::kSession},
    {"Range", RTSPHeaderKind::kRange},
    {"RTP-Info", RTSPHeaderKind::kRtpInfo},
    {"Server", RTSPHeaderKind::kServer},
    {"Accept-Ranges", RTSPHeaderKind::kAcceptRanges},
    {"RTCP-Interval", RTSPHeaderKind::kRtcpInterval},
    {"WWW-Authenticate", RTSPHeaderKind::kWwwAuthenticate},
};

bool ListContainsToken(std::string_view list, std::string_view token) {
    std::size_t position = 0;
    while (position <= list.size()) {
        std::size_t comma = list.find(',', position);
        if (comma == std::string_view::npos) comma = list.size();
        if (EqualsNoCase(CRTSPResponseParser::Trim(list.substr(position, comma - position)), token)) return true;
        position = comma + 1;
    }
    return false;
}

// How strong an offer is: Basic, then Digest with MD5, then Digest with SHA-256; 0 for none.
int Strength(RTSPAuthType type, DigestAlgorithm algorithm) {
    if (type == RTSPAuthType::kBasic) return 1;
    if (type != RTSPAuthType::kDigest) return 0;
    return IsStrongerDigest(algorithm, DigestAlgorithm::kMd5) ? 3 : 2;
}

}  // namespace

const char* GetMethodName(RTSPMethod method) {
    switch (method) {
    case RTSPMethod::kDescribe: return "DESCRIBE";
    case RTSPMethod::kSetup: return "SETUP";
    case RTSPMethod::kPlay: return "PLAY";
    case RTSPMethod::kTeardown: return "TEARDOWN";
    case RTSPMethod::kOptions: return "OPTIONS";
    case RTSPMethod::kPause: return "PAUSE";
    }
    return "";
}

std::string CRTSPResponseParser::ToLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

std::string_view CRTSPResponseParser::Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string_view CRTSPResponseParser::NextLine(std::string_view text, std::size_t& position) {
    if (position == kEndOfText || position >= text.size()) {
        position = kEndOfText;
        return {};
    }
    std::size_t end = text.find_first_of("\r\n", position);
    std::string_view line = text.substr(position, end == kEndOfText ? kEndOfText : end - position);
    if (end == kEndOfText) {
        position = kEndOfText;
    } else {
        position = end + 1;
        if (text[end] == '\r' && position < text.size() && text[position] == '\n') ++position;
    }
    return line;
}

RTSPHeaderKind CRTSPResponseParser::ClassifyHeader(std::string_view line) {
    if (line.empty()) return RTSPHeaderKind::kEmpty;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return RTSPHeaderKind::kNone;
    std::string_view name = Trim(line.substr(0, colon));
    for (const HeaderName& entry : kHeaderNames) {
        if (EqualsNoCase(name, entry.name)) return entry.kind;
    }
    return RTSPHeaderKind::kNone;
}

SdpLineKind CRTSPResponseParser::ClassifySdpLine(std::string_view line) {
    if (line.empty()) return SdpLineKind::kEmpty;
    // An SDP line's type is its first character (RFC 4566 section 5); nothing later in the
    // line, such as "stream=0" or base64 data, changes it.
    if (StartsWithNoCase(line, "m=")) {
        std::string_view media = FirstToken(line.substr(2));
        if (EqualsNoCase(media, "video")) return SdpLineKind::kMediaVideo;
        if (EqualsNoCase(media, "audio")) return SdpLineKind::kMediaAudio;
        if (EqualsNoCase(media, "metadata")) return SdpLineKind::kMediaMetadata;
        return SdpLineKind::kMediaOther;
    }
    if (StartsWithNoCase(line, "a=control:")) return SdpLineKind::kControl;
    if (StartsWithNoCase(line, "a=fmtp:")) return SdpLineKind::kFmtp;
    return SdpLineKind::kOther;
}

std::string CRTSPResponseParser::GetParameterValue(std::string_view text, std::string_view key,
                                                   std::string_view separator, std::string_view terminators) {
    if (text.empty() || key.empty() || separator.empty()) return {};
    std::size_t search = 0;
    while (search < text.size()) {
        std::size_t occurrence = text.find(key, search);
        if (occurrence == std::string_view::npos) break;
        std::size_t end = text.find_first_of(terminators, occurrence);
        if (terminators.empty() || end == std::string_view::npos) end = text.size();
        bool atStart = occurrence == 0 || IsBlank(text[occurrence - 1]) ||
                       terminators.find(text[occurrence - 1]) != std::string_view::npos;
        std::size_t sep = text.find(separator, occurrence);
        if (atStart && sep != std::string_view::npos && sep < end &&
            Trim(text.substr(occurrence, sep - occurrence)) == key && sep + separator.size() < end) {
            std::size_t valueBegin = sep + separator.size();
            return std::string(text.substr(valueBegin, end - valueBegin));
        }
        search = occurrence + 1;
    }
    return {};
}

RTSPFraming CRTSPResponseParser::FrameResponse(std::string_view buffered) {
    RTSPFraming framing;
    std::size_t position = 0;
    while (position < buffered.size() && (buffered[position] == '\r' || buffered[position] == '\n')) ++position;
    framing.start = position;

    bool lengthSeen = false;
    std::uint32_t contentLength = 0;
    bool statusLine = true;
    for (;;) {
        std::size_t end = buffered.find_first_of("\r\n", position);
        if (end == std::string_view::npos) return framing;
        std::string_view line = buffered.substr(position, end - position);
        // A CR as the last byte so far may be the first half of CR LF.
        bool pendingLf = buffered[end] == '\r' && end + 1 == buffered.size();
        position = end + 1;
        if (buffered[end] == '\r' && position < buffered.size() && buffered[position] == '\n') ++position;

        if (line.empty()) {
            if (pendingLf && contentLength > 0) return framing;
            // Against what is left, not as a sum: on 32 bits position + length can wrap.
            if (contentLength > buffered.size() - position) return framing;
            framing.status = RTSPFraming::Status::kComplete;
            framing.length = position - framing.start + contentLength;
            return framing;
        }
        if (pendingLf) return framing;
        if (!statusLine && ClassifyHeader(line) == RTSPHeaderKind::kContentLength) {
            std::uint32_t value = 0;
            if (!ParseUnsigned(HeaderValue(line), 0xFFFFFFFFu, value) || (lengthSeen && value != contentLength)) {
                framing.status = RTSPFraming::Status::kInvalid;
                return framing;
            }
            lengthSeen = true;
            contentLength = value;
        }
        statusLine = false;
    }
}

bool CRTSPResponseParser::FindCSeq(std::string_view response, std::uint32_t& cseq) {
    std::size_t position = 0;
    NextLine(response, position);  // the status line
    for (;;) {
        std::string_view line = NextLine(response, position);
        if (line.empty()) return false;
        if (ClassifyHeader(line) == RTSPHeaderKind::kCSeq) return ParseUnsigned(HeaderValue(line), 0xFFFFFFFFu, cseq);
    }
}

bool CRTSPResponseParser::ParseResponse(RTSPMethod method, std::string_view text) {
    // Bytes from a NUL on are not text.
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);

    // The body fields describe this response only; a stale Content-Length would take bytes
    // that belong to nobody.
    m_response.contentLength = 0;
    m_response.contentType.clear();

    std::size_t position = 0;
    if (!ReadStatusLine(NextLine(text, position))) return false;
    if (m_response.statusCode != 200 && m_response.statusCode != 401) return false;

    bool challengeSeen = false;
    for (;;) {
        std::string_view line = NextLine(text, position);
        if (line.empty()) {
            if (position == kEndOfText) return false;  // the header block never closed
            break;
        }
        if (ClassifyHeader(line) == RTSPHeaderKind::kWwwAuthenticate) {
            if (!ParseAuthChallenge(HeaderValue(line), challengeSeen)) return false;
        } else if (!DispatchHeader(line)) {
            return false;
        }
    }

    if (m_response.contentLength == 0 || method != RTSPMethod::kDescribe) return true;
    // The body runs to the end of the text when that comes first: cameras that end their SDP
    // with a NUL count it in Content-Length, and the text stops at that NUL.
    return ParseSdp(text.substr(position, m_response.contentLength));
}

bool CRTSPResponseParser::ReadStatusLine(std::string_view line) {
    std::size_t position = 0;
    std::string_view fields[3];
    for (std::string_view& field : fields) {
        while (position < line.size() && IsBlank(line[position])) ++position;
        std::size_t begin = position;
        while (position < line.size() && !IsBlank(line[position])) ++position;
        field = line.substr(begin, position - begin);
        if (field.empty() || field.size() > kMaxToken) return false;
    }
    std::uint32_t status = 0;
    if (fields[1].size() != 3 || !ParseUnsigned(fields[1], 999, status)) return false;
    m_response.version.assign(fields[0]);
    m_response.statusCode = static_cast<std::int32_t>(status);
    m_response.reason.assign(fields[2]);
    return true;
}

bool CRTSPResponseParser::DispatchHeader(std::string_view line) {
    std::string_view value = HeaderValue(line);
    switch (ClassifyHeader(line)) {
    case RTSPHeaderKind::kCSeq:
        return ParseUnsigned(value, 0xFFFFFFFFu, m_response.cseq);
    case RTSPHeaderKind::kContentType: {
        std::string_view type = value.substr(0, value.find(';'));
        type = FirstToken(Trim(type));
        if (type.empty() || type.size() > kMaxToken) return false;
        m_response.contentType = ToLowerCopy(type);
        return true;
    }
    case RTSPHeaderKind::kContentLength:
        return ParseUnsigned(value, 0xFFFFFFFFu, m_response.contentLength);
    case RTSPHeaderKind::kSession:
        return ParseSessionHeader(value);
    case RTSPHeaderKind::kTransport:
        ParseTransportHeader(value);
        return true;
    default:
        return true;
    }
}

bool CRTSPResponseParser::ParseSessionHeader(std::string_view value) {
    std::size_t semicolon = value.find(';');
    std::string_view id = Trim(value.substr(0, semicolon));
    if (id.empty()) return false;
    m_response.session.assign(id);
    if (semicolon == std::string_view::npos) return true;

    // Parameter names are case-insensitive; other parameters than timeout are ignored.
    std::string parameters = ToLowerCopy(value.substr(semicolon + 1));
    std::string timeout = GetParameterValue(parameters, "timeout", "=", ";");
    if (timeout.empty()) return true;
    std::uint32_t seconds = 0;
    if (!ParseUnsigned(Trim(timeout), kMaxSessionTimeout, seconds) || seconds == 0) seconds = kFallbackSessionTimeout;
    m_response.sessionTimeout = seconds;
    return true;
}

// RFC 2326 12.39: server_port is a port or a pair "rtp-rtcp", ssrc eight hex digits. A value
// that does not read counts as not named, so the stream is still taken, only less strictly
// checked.
void CRTSPResponseParser::ParseTransportHeader(std::string_view value) {
    m_response.serverRtpPort = 0;
    m_response.serverRtcpPort = 0;
    m_response.ssrcNamed = false;
    m_response.ssrc = 0;
    m_response.interleavedNamed = false;
    m_response.interleavedRtp = 0;
    m_response.interleavedRtcp = 0;
    const std::string parameters = ToLowerCopy(value);
    ParseInterleaved(GetParameterValue(parameters, "interleaved", "=", ";,"));
    const std::string ports = GetParameterValue(parameters, "server_port", "=", ";,");
    const std::size_t dash = ports.find('-');
    std::uint32_t rtp = 0;
    std::uint32_t rtcp = 0;
    if (ParseUnsigned(Trim(std::string_view(ports).substr(0, dash)), 0xFFFF, rtp) && rtp != 0) {
        if (dash == std::string::npos) {
            rtcp = rtp + 1 <= 0xFFFF ? rtp + 1 : 0;
        } else if (!ParseUnsigned(Trim(std::string_view(ports).substr(dash + 1)), 0xFFFF, rtcp) || rtcp == 0) {
            rtp = 0;
        }
        m_response.serverRtpPort = static_cast<std::uint16_t>(rtp);
        m_response.serverRtcpPort = static_cast<std::uint16_t>(rtp != 0 ? rtcp : 0);
    }
    const std::string ssrc = std::string(Trim(GetParameterValue(parameters, "ssrc", "=", ";,")));
    if (ssrc.empty() || ssrc.size() > 8) return;
    std::uint32_t number = 0;
    for (char c : ssrc) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return;
        number = number << 4 | std::uint32_t(digit);
    }
    m_response.ssrcNamed = true;
    m_response.ssrc = number;
}

// RFC 2326 12.39: interleaved is a channel or a pair "rtp-rtcp"; a single one puts RTCP on the
// channel above it.
void CRTSPResponseParser::ParseInterleaved(const std::string& channels) {
    const std::size_t dash = channels.find('-');
    std::uint32_t rtp = 0;
    std::uint32_t rtcp = 0;
    if (!ParseUnsigned(Trim(std::string_view(channels).substr(0, dash)), 0xFF, rtp)) return;
    if (dash == std::string::npos) {
        if (rtp == 0xFF) return;
        rtcp = rtp + 1;
    } else if (!ParseUnsigned(Trim(std::string_view(channels).substr(dash + 1)), 0xFF, rtcp) || rtcp == rtp) {
        return;
    }
    m_response.interleavedNamed = true;
    m_response.interleavedRtp = static_cast<std::uint8_t>(rtp);
    m_response.interleavedRtcp = static_cast<std::uint8_t>(rtcp);
}

bool CRTSPResponseParser::ParseAuthChallenge(std::string_view value, bool& challengeSeen) {
    // The first challenge header of a response replaces whatever an earlier 401 offered.
    if (!challengeSeen) {
        challengeSeen = true;
        m_response.authType = RTSPAuthType::kNone;
        m_response.realm.clear();
        m_response.nonce.clear();
        m_response.opaque.clear();
        m_response.qopAuth = false;
        m_response.digestAlgorithm = DigestAlgorithm::kMd5;
        m_response.algorithmNamed = false;
        m_response.userhash = false;
        m_response.stale = false;
    }
    std::vector<AuthChallenge> challenges;
    bool ok = ParseAuthChallenges(value, challenges);
    for (const AuthChallenge& challenge : challenges) {
        if (!TakeChallengeIfStronger(challenge)) ok = false;
    }
    return ok;
}

bool CRTSPResponseParser::TakeChallengeIfStronger(const AuthChallenge& challenge) {
    RTSPAuthType type = RTSPAuthType::kNone;
    DigestAlgorithm algorithm = DigestAlgorithm::kMd5;
    const std::string qop = challenge.Parameter("qop");
    if (EqualsNoCase(challenge.scheme, "Digest")) {
        // An algorithm we do not know is not answered with another one; qop, when offered,
        // must include "auth", and the -sess variants need its client nonce.
        if (!ParseDigestAlgorithm(challenge.Parameter("algorithm"), algorithm)) return true;
        if (!qop.empty() && !ListContainsToken(qop, "auth")) return true;
        if (qop.empty() && IsSessionDigest(algorithm)) return true;
        if (challenge.Parameter("realm").empty() || challenge.Parameter("nonce").empty()) return false;
        type = RTSPAuthType::kDigest;
    } else if (EqualsNoCase(challenge.scheme, "Basic")) {
        type = RTSPAuthType::kBasic;
    } else {
        return true;
    }
    // Several offers: the strongest we can answer wins, the first of equals.
    if (Strength(type, algorithm) <= Strength(m_response.authType, m_response.digestAlgorithm)) return true;
    m_response.authType = type;
    m_response.realm = challenge.Parameter("realm");
    m_response.nonce = challenge.Parameter("nonce");
    m_response.opaque = challenge.Parameter("opaque");
    m_response.qopAuth = type == RTSPAuthType::kDigest && !qop.empty();
    m_response.digestAlgorithm = algorithm;
    m_response.algorithmNamed = type == RTSPAuthType::kDigest && challenge.HasParameter("algorithm");
    m_response.userhash = type == RTSPAuthType::kDigest && EqualsNoCase(challenge.Parameter("userhash"), "true");
    m_response.stale = type == RTSPAuthType::kDigest && EqualsNoCase(challenge.Parameter("stale"), "true");
    return true;
}

bool CRTSPResponseParser::ParseSdp(std::string_view body) {
    // A session description describes the whole session: controls of an earlier one go.
    m_response.videoControl.clear();
    m_response.audioControl.clear();
    m_response.metadataControl.clear();

    std::string* control = nullptr;
    std::size_t position = 0;
    while (position != kEndOfText) {
        std::string_view line = NextLine(body, position);
        switch (ClassifySdpLine(line)) {
        case SdpLineKind::kMediaVideo: control = &m_response.videoControl; break;
        case SdpLineKind::kMediaAudio: control = &m_response.audioControl; break;
        case SdpLineKind::kMediaMetadata: control = &m_response.metadataControl; break;
        case SdpLineKind::kMediaOther: control = nullptr; break;
        case SdpLineKind::kControl: {
            if (control == nullptr) break;  // session-level control: the channel addresses tracks
            std::string_view name = FirstToken(Trim(line.substr(std::strlen("a=control:"))));
            if (name.empty() || name.size() > kMaxToken) return false;
            control->assign(name);
            break;
        }
        default: break;  // blank lines are tolerated: the body's length bounds the description
        }
    }
    return true;
}

}  // namespace kestrel
