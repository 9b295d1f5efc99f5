// Parses one RTSP/1.0 response, and the session description of a DESCRIBE answer, into the
// few facts the driver needs. Owned by one RTSP client and used on its thread only.
#ifndef QUILLON_RTSP_RTSP_RESPONSE_PARSER_H
#define QUILLON_RTSP_RTSP_RESPONSE_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtsp/digest_auth.h"

namespace kestrel {

struct AuthChallenge;

enum class RTSPMethod : std::uint32_t {
    kDescribe = 1,
    kSetup = 2,
    kPlay = 3,
    kTeardown = 4,
    kOptions = 5,
    kPause = 6,
};

// The request word of `method`; empty for any other value.
const char* GetMethodName(RTSPMethod method);

enum class RTSPAuthType : std::uint32_t { kNone = 0, kBasic = 1, kDigest = 2 };

// What the last responses said. Fields persist until a later response sets them again, except
// the content fields, which belong to the response that carries them.
struct RTSPResponse {
    std::string version;
    std::int32_t statusCode = 0;
    std::string reason;              // first word of the reason phrase
    std::uint32_t cseq = 0;          // the client increments it to number its next request
    std::string contentType;         // lower-cased
    std::uint32_t contentLength = 0;
    std::string session;             // exactly as received: servers compare it byte for byte
    std::uint32_t sessionTimeout = 0;  // seconds; 0: no response named one
    std::string videoControl;
    std::string audioControl;
    std::string metadataControl;
    // What the last Transport header named: the camera's RTP and RTCP source ports (0 when not
    // named or not readable) and the stream's SSRC.
    std::uint16_t serverRtpPort = 0;
    std::uint16_t serverRtcpPort = 0;
    bool ssrcNamed = false;
    std::uint32_t ssrc = 0;
    // The interleaved channels the Transport header named for RTP and RTCP over the RTSP
    // connection; both 0 when it named none.
    bool interleavedNamed = false;
    std::uint8_t interleavedRtp = 0;
    std::uint8_t interleavedRtcp = 0;
    // The challenge of the last 401 (the strongest scheme offered that we can answer).
    RTSPAuthType authType = RTSPAuthType::kNone;
    std::string realm;
    std::string nonce;
    std::string opaque;
    bool qopAuth = false;  // the Digest challenge offered qop "auth"
    DigestAlgorithm digestAlgorithm = DigestAlgorithm::kMd5;
    bool algorithmNamed = false;  // the challenge named its algorithm, so the answer echoes it
    bool userhash = false;        // the server wants the user name hashed with the realm
    bool stale = false;           // the last 401 refused only the nonce, not the credentials
};

enum class RTSPHeaderKind {
    kNone = 0,
    kCSeq = 1,
    kDate = 2,
    kContentBase = 3,
    kContentType = 4,
    kContentLength = 5,
    kTransport = 6,
    kSession = 7,
    kRange = 8,
    kRtpInfo = 9,
    kEmpty = 10,
    kServer = 11,
    kAcceptRanges = 12,
    kRtcpInterval = 13,
    kWwwAuthenticate = 14,
};

enum class SdpLineKind {
    kOther = 0,
    kEmpty = 1,
    kMediaVideo = 2,
    kMediaAudio = 3,
    kMediaMetadata = 4,
    kMediaOther = 5,
    kControl = 6,
    kFmtp = 7,
};

// Where one response ends in a stream of received bytes.
struct RTSPFraming {
    enum class Status { kIncomplete, kComplete, kInvalid };
    Status status = Status::kIncomplete;
    std::size_t start = 0;   // blank lines before the status line are skipped
    std::size_t length = 0;  // status line, headers, empty line and Content-Length body bytes
};

class CRTSPResponseParser {
public:
    static constexpr std::size_t kEndOfText = std::string_view::npos;
    // The longest session time-out whose milliseconds fit 32 bits.
    static constexpr std::uint32_t kMaxSessionTimeout = 4294967;
    static constexpr std::uint32_t kFallbackSessionTimeout = 30;

    CRTSPResponseParser() = default;
    virtual ~CRTSPResponseParser() = default;

    // True when the status line reads, the status is 200 or 401, the header block is closed
    // by an empty line, every used header is well formed and, for DESCRIBE, its session
    // description reads without fault. The text ends at its first NUL; the body at the end of
    // the text when that comes before Content-Length says.
    bool ParseResponse(RTSPMethod method, std::string_view text);

    RTSPResponse& GetResponse() { return m_response; }
    const RTSPResponse& GetResponse() const { return m_response; }

    // Finds the end of the first response in `buffered`, or tells that more bytes are needed.
    // Invalid when a Content-Length is malformed or differs between two headers.
    static RTSPFraming FrameResponse(std::string_view buffered);
    // The CSeq header's number in the head of `response`; false when there is none that reads.
    static bool FindCSeq(std::string_view response, std::uint32_t& cseq);

    // The line at `position`; CR LF, LF and CR each end a line. Moves `position` past the line
    // end, or to kEndOfText when the text ran out (a last line without a line end is returned
    // too). Returns empty with kEndOfText once nothing is left.
    static std::string_view NextLine(std::string_view text, std::size_t& position);

    static RTSPHeaderKind ClassifyHeader(std::string_view line);
    static SdpLineKind ClassifySdpLine(std::string_view line);

    // The value after `separator` of the first parameter in `text` whose name, trimmed, is
    // `key` (case-sensitive); the value runs to the next character of `terminators` and is
    // returned untrimmed. A key counts only where a parameter begins: at the start of the text,
    // or after a terminator or blank. Empty when any argument is empty or nothing matches.
    static std::string GetParameterValue(std::string_view text, std::string_view key, std::string_view separator,
                                         std::string_view terminators);

    static std::string ToLowerCopy(std::string_view text);
    static std::string_view Trim(std::string_view text);

private:
    bool ReadStatusLine(std::string_view line);
    bool DispatchHeader(std::string_view line);
    bool ParseSessionHeader(std::string_view value);
    void ParseTransportHeader(std::string_view value);
    void ParseInterleaved(const std::string& channels);
    bool ParseAuthChallenge(std::string_view value, bool& challengeSeen);
    bool TakeChallengeIfStronger(const AuthChallenge& challenge);
    bool ParseSdp(std::string_view body);

    RTSPResponse m_response;
};

}  // namespace kestrel

#endif
