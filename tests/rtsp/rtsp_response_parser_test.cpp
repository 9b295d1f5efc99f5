#include <gtest/gtest.h>

#include <string>

#include "rtsp/rtsp_response_parser.h"

namespace kestrel {
namespace {

TEST(RTSPResponseParserTest, NextLineTakesEveryLineEndAsOne) {
    struct Case {
        const char* text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\nbc\r\n", {"a", "bc"}},
        {"a\nbc\n", {"a", "bc"}},      // bare LF: the next line keeps its first character
        {"a\rbc\r", {"a", "bc"}},      // bare CR
        {"a\n\rb\r\n", {"a", "", "b"}},  // LF then CR are two line ends
        {"a\r\n\r\nb", {"a", "", "b"}},  // a last line without a line end is kept
        {"", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines;
        std::size_t position = 0;
        for (int guard = 0; guard < 10; ++guard) {
            std::string_view line = CRTSPResponseParser::NextLine(c.text, position);
            if (line.empty() && position == CRTSPResponseParser::kEndOfText) break;
            lines.emplace_back(line);
        }
        EXPECT_EQ(lines, c.lines) << testing::PrintToString(c.text);
    }
}

TEST(RTSPResponseParserTest, GetParameterValueMatchesWholeNamesOnly) {
    struct Case {
        const char* text;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"timeout=60", "timeout", "60"},
        {"foo=1;timeout = 60;bar=2", "timeout", " 60"},
        {"xtimeout=5;timeout=7", "timeout", "7"},  // a longer name is not the key
        {"timeout=", "timeout", ""},
        {"timeoutx=5", "timeout", ""},
        {"", "timeout", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CRTSPResponseParser::GetParameterValue(c.text, c.key, "=", ";"), c.value) << c.text;
}

// Expected facts after one response given to a fresh parser.
struct Expect {
    Expect(bool ok, std::int32_t status = 200, std::uint32_t cseq = 0, std::string session = "",
           std::uint32_t timeout = 0)
        : ok(ok), status(status), cseq(cseq), session(std::move(session)), timeout(timeout) {}
    bool ok;
    std::int32_t status;
    std::uint32_t cseq;
    std::string session;
    std::uint32_t timeout;
};

TEST(RTSPResponseParserTest, ReadsStatusCSeqAndSession) {
    struct Case {
        const char* comment;
        const char* text;
        Expect expect;
    };
    const Case cases[] = {
        {"plain", "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n", {true, 200, 2}},
        {"names in any case", "RTSP/1.0 200 OK\r\ncseq: 3\r\nSESSION: ab\r\n\r\n", {true, 200, 3, "ab"}},
        {"LF line ends", "RTSP/1.0 200 OK\nCSeq: 4\nSession: ab\n\n", {true, 200, 4, "ab"}},
        {"CR line ends", "RTSP/1.0 200 OK\rCSeq: 4\rSession: ab\r\r", {true, 200, 4, "ab"}},
        {"session keeps its case", "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 12AB\r\n\r\n", {true, 200, 5, "12AB"}},
        {"session with time-out", "RTSP/1.0 200 OK\r\nCSeq: 6\r\nSession: 12ab;timeout=60\r\n\r\n",
         {true, 200, 6, "12ab", 60}},
        {"time-out with blanks and case", "RTSP/1.0 200 OK\r\nSession: 7f;  Timeout = 45 \r\n\r\n",
         {true, 200, 0, "7f", 45}},
        {"time-out 0 is replaced", "RTSP/1.0 200 OK\r\nSession: a;timeout=0\r\n\r\n", {true, 200, 0, "a", 30}},
        {"time-out not a number", "RTSP/1.0 200 OK\r\nSession: a;timeout=x\r\n\r\n", {true, 200, 0, "a", 30}},
        {"time-out beyond 32-bit ms", "RTSP/1.0 200 OK\r\nSession: a;timeout=4294968\r\n\r\n",
         {true, 200, 0, "a", 30}},
        {"no blank after colon", "RTSP/1.0 200 OK\r\nSession:12ab\r\n\r\n", {true, 200, 0, "12ab"}},
        {"unknown session parameter", "RTSP/1.0 200 OK\r\nSession: 12ab;foo=1\r\n\r\n", {true, 200, 0, "12ab"}},
        {"unknown headers skipped",
         "RTSP/1.0 200 OK\r\nX-CSeq-Info: 1\r\nServer: cam\r\nDate: today\r\nCSeq: 9\r\n\r\n", {true, 200, 9}},
        {"401 is an answer", "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n\r\n", {true, 401, 2}},
        {"blank lines after header block", "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n\r\n", {true, 200, 2}},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        EXPECT_EQ(parser.ParseResponse(RTSPMethod::kSetup, c.text), c.expect.ok) << c.comment;
        const RTSPResponse& r = parser.GetResponse();
        EXPECT_EQ(r.statusCode, c.expect.status) << c.comment;
        EXPECT_EQ(r.cseq, c.expect.cseq) << c.comment;
        EXPECT_EQ(r.session, c.expect.session) << c.comment;
        EXPECT_EQ(r.sessionTimeout, c.expect.timeout) << c.comment;
    }
}

// What the stream's packets are checked against; a part that does not read is not named.
// The parsed answer to a SETUP whose Transport header is `transport`.
RTSPResponse ParsedSetupAnswer(const char* transport, const char* comment) {
    CRTSPResponseParser parser;
    const std::string text = std::string("RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: ") + transport + "\r\n\r\n";
    EXPECT_TRUE(parser.ParseResponse(RTSPMethod::kSetup, text)) << comment;
    return parser.GetResponse();
}

TEST(RTSPResponseParserTest, ReadsTheServerPortsAndSsrcOfTheTransport) {
    struct Case {
        const char* comment;
        const char* transport;
        std::uint16_t rtp;
        std::uint16_t rtcp;
        bool ssrcNamed;
        std::uint32_t ssrc;
    };
    const Case cases[] = {
        {"both named", "RTP/AVP;unicast;client_port=3556-3557;server_port=6970-6971;ssrc=DEADbeef", 6970, 6971, true,
         0xDEADBEEF},
        {"one port: RTCP above it", "RTP/AVP;unicast;server_port=5000", 5000, 5001, false, 0},
        {"short ssrc, names in any case", "RTP/AVP;Server_Port = 5000-5001 ;SSRC=1f", 5000, 5001, true, 0x1F},
        {"nothing named", "RTP/AVP;unicast;client_port=3556-3557", 0, 0, false, 0},
        {"port not a number", "RTP/AVP;server_port=x-5001;ssrc=12", 0, 0, true, 0x12},
        {"RTCP port not a number", "RTP/AVP;server_port=5000-y", 0, 0, false, 0},
        {"port beyond 16 bits", "RTP/AVP;server_port=65536-65537", 0, 0, false, 0},
        {"port 0", "RTP/AVP;server_port=0-1", 0, 0, false, 0},
        {"ssrc too long", "RTP/AVP;server_port=5000-5001;ssrc=123456789", 5000, 5001, false, 0},
        {"ssrc not hex", "RTP/AVP;ssrc=12g4", 0, 0, false, 0},
        {"ssrc empty", "RTP/AVP;ssrc=", 0, 0, false, 0},
    };
    for (const Case& c : cases) {
        const RTSPResponse r = ParsedSetupAnswer(c.transport, c.comment);
        EXPECT_EQ(r.serverRtpPort, c.rtp) << c.comment;
        EXPECT_EQ(r.serverRtcpPort, c.rtcp) << c.comment;
        EXPECT_EQ(r.ssrcNamed, c.ssrcNamed) << c.comment;
        EXPECT_EQ(r.ssrc, c.ssrc) << c.comment;
    }
}

TEST(RTSPResponseParserTest, ReadsTheInterleavedChannelsOfTheTransport) {
    struct Case {
        const char* comment;
        const char* transport;
        bool named;
        std::uint8_t rtp;
        std::uint8_t rtcp;
    };
    const Case cases[] = {
        {"the pair asked for", "RTP/AVP/TCP;unicast;interleaved=0-1", true, 0, 1},
        {"the server's own pair", "RTP/AVP/TCP;unicast;interleaved=4-5;ssrc=1f", true, 4, 5},
        {"one channel: RTCP above it", "RTP/AVP/TCP;Interleaved=6", true, 6, 7},
        {"UDP answer names none", "RTP/AVP;unicast;server_port=5000-5001", false, 0, 0},
        {"channel beyond 8 bits", "RTP/AVP/TCP;interleaved=256-257", false, 0, 0},
        {"one channel for both", "RTP/AVP/TCP;interleaved=2-2", false, 0, 0},
        {"no room above the last channel", "RTP/AVP/TCP;interleaved=255", false, 0, 0},
        {"not a number", "RTP/AVP/TCP;interleaved=a-b", false, 0, 0},
    };
    for (const Case& c : cases) {
        const RTSPResponse r = ParsedSetupAnswer(c.transport, c.comment);
        EXPECT_EQ(r.interleavedNamed, c.named) << c.comment;
        EXPECT_EQ(r.interleavedRtp, c.rtp) << c.comment;
        EXPECT_EQ(r.interleavedRtcp, c.rtcp) << c.comment;
    }
}

TEST(RTSPResponseParserTest, RejectsMalformedResponses) {
    struct Case {
        const char* comment;
        const char* text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"status line only, no line end", "RTSP/1.0 200 OK"},
        {"no reason", "RTSP/1.0 200\r\n\r\n"},
        {"status not a number", "RTSP/1.0 abc OK\r\n\r\n"},
        {"status of four digits", "RTSP/1.0 2000 OK\r\n\r\n"},
        {"signed status", "RTSP/1.0 +200 OK\r\n\r\n"},
        {"not found", "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n"},
        {"header block never closed", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n"},
        {"header block cut mid-line", "RTSP/1.0 200 OK\r\nCSeq: 1"},
        {"CSeq not a number", "RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n"},
        {"CSeq too large", "RTSP/1.0 200 OK\r\nCSeq: 4294967296\r\n\r\n"},
        {"negative Content-Length", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n"},
        {"Content-Length, block never closed", "RTSP/1.0 200 OK\r\nContent-Length: 4\r\n"},
        {"empty session id", "RTSP/1.0 200 OK\r\nSession: ;timeout=5\r\n\r\n"},
        {"empty Content-Type", "RTSP/1.0 200 OK\r\nContent-Type:\r\n\r\n"},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        EXPECT_FALSE(parser.ParseResponse(RTSPMethod::kOptions, c.text)) << c.comment;
    }
    // A NUL cuts the text: here the header block is then never closed.
    static const char kWithNul[] = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\0\r\n";
    CRTSPResponseParser parser;
    EXPECT_FALSE(parser.ParseResponse(RTSPMethod::kOptions, std::string_view(kWithNul, sizeof kWithNul - 1)));
}

TEST(RTSPResponseParserTest, BodyEndsAtTheTextsEndWhenThatComesFirst) {
    const std::string sdp = "v=0\r\nm=video 0 RTP/AVP 26\r\na=control:trackID=1\r\n";
    struct Case {
        const char* comment;
        std::string body;
        std::size_t contentLength;
    };
    const Case cases[] = {
        // Some cameras end the description with a NUL and count it.
        {"NUL counted in Content-Length", sdp + std::string(1, '\0'), sdp.size() + 1},
        {"NUL and bytes after it", sdp + std::string("\0junk", 5), sdp.size() + 5},
        {"shorter than Content-Length", sdp, sdp.size() + 10},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        std::string text = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(c.contentLength) +
                           "\r\n\r\n" + c.body;
        EXPECT_TRUE(parser.ParseResponse(RTSPMethod::kDescribe, text)) << c.comment;
        EXPECT_EQ(parser.GetResponse().videoControl, "trackID=1") << c.comment;
    }
}

TEST(RTSPResponseParserTest, ReadsChallenges) {
    using A = RTSPAuthType;
    using D = DigestAlgorithm;
    // What the parser keeps of the challenge it would answer.
    struct Kept {
        RTSPAuthType type;
        const char* realm;
        const char* nonce;
        D algorithm = D::kMd5;
        bool qop = false;
        const char* opaque = "";
        bool named = false;
        bool userhash = false;
        bool stale = false;
    };
    struct Case {
        const char* comment;
        const char* headers;
        bool ok;
        Kept kept;
    };
    const Kept none{A::kNone, "", ""};
    const Case cases[] = {
        {"Basic, quoted realm of two words", "WWW-Authenticate: Basic realm=\"IP Camera\"\r\n", true,
         {A::kBasic, "IP Camera", ""}},
        {"Digest, RFC 2069", "WWW-Authenticate: Digest realm=\"IP Camera\", nonce=\"a1b2\"\r\n", true,
         {A::kDigest, "IP Camera", "a1b2"}},
        {"any order, blanks around =", "WWW-Authenticate: Digest nonce = \"n, 1\" ,realm= \"r\" ,stale=FALSE\r\n",
         true, {A::kDigest, "r", "n, 1"}},
        {"unquoted values", "WWW-Authenticate: Digest realm=cam, nonce=abc\r\n", true, {A::kDigest, "cam", "abc"}},
        {"escaped quote", "WWW-Authenticate: Digest realm=\"a\\\"b\", nonce=\"n\"\r\n", true,
         {A::kDigest, "a\"b", "n"}},
        {"realm holding 'date'", "WWW-Authenticate: Digest realm=\"Update Date\", nonce=\"xdatex\"\r\n", true,
         {A::kDigest, "Update Date", "xdatex"}},
        {"scheme in any case", "www-authenticate: digest realm=\"r\", nonce=\"n\"\r\n", true, {A::kDigest, "r", "n"}},
        {"qop auth and opaque",
         "WWW-Authenticate: Digest realm=\"r\", qop=\"auth,auth-int\", nonce=\"n\", opaque=\"5ccc\"\r\n", true,
         {A::kDigest, "r", "n", D::kMd5, true, "5ccc"}},
        {"Digest then Basic: the stronger wins",
         "WWW-Authenticate: Digest realm=\"d\", nonce=\"n\"\r\nWWW-Authenticate: Basic realm=\"b\"\r\n", true,
         {A::kDigest, "d", "n"}},
        {"Basic then Digest",
         "WWW-Authenticate: Basic realm=\"b\"\r\nWWW-Authenticate: Digest realm=\"d\", nonce=\"n\"\r\n", true,
         {A::kDigest, "d", "n"}},
        {"two challenges on one line", "WWW-Authenticate: Basic realm=\"b\", Digest realm=\"d\", nonce=\"n\"\r\n",
         true, {A::kDigest, "d", "n"}},
        {"SHA-256 only", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256, qop=\"auth\"\r\n",
         true, {A::kDigest, "r", "n", D::kSha256, true, "", true}},
        {"SHA-256 without qop: RFC 2069 form", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256\r\n",
         true, {A::kDigest, "r", "n", D::kSha256, false, "", true}},
        {"SHA-256 then MD5",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"s\", algorithm=SHA-256\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"m\", algorithm=MD5\r\n",
         true, {A::kDigest, "r", "s", D::kSha256, false, "", true}},
        {"MD5 then SHA-256",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"m\", algorithm=MD5\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"s\", algorithm=SHA-256\r\n",
         true, {A::kDigest, "r", "s", D::kSha256, false, "", true}},
        {"MD5 without algorithm, then SHA-256-sess on the same line",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"m\", Digest realm=\"r\", nonce=\"s\", qop=auth, "
         "algorithm=sha-256-sess\r\n",
         true, {A::kDigest, "r", "s", D::kSha256Sess, true, "", true}},
        {"-sess without qop cannot be answered",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=MD5-sess\r\n", true, none},
        {"unknown algorithm is not answered with MD5",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256, qop=auth\r\n", true, none},
        {"unknown algorithm beside Basic",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256\r\n"
         "WWW-Authenticate: Basic realm=\"b\"\r\n",
         true, {A::kBasic, "b", ""}},
        {"userhash and stale",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256, qop=auth, userhash=true, "
         "stale=TRUE\r\n",
         true, {A::kDigest, "r", "n", D::kSha256, true, "", true, true, true}},
        {"qop auth-int only", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"\r\n", true, none},
        {"unknown scheme", "WWW-Authenticate: Negotiate abc\r\n", true, none},
        {"Digest without nonce", "WWW-Authenticate: Digest realm=\"r\"\r\n", false, none},
        {"quote never closed", "WWW-Authenticate: Digest realm=\"r, nonce=\"n\r\n", false, none},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        std::string text = std::string("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n") + c.headers + "\r\n";
        EXPECT_EQ(parser.ParseResponse(RTSPMethod::kDescribe, text), c.ok) << c.comment;
        if (!c.ok) continue;
        const RTSPResponse& r = parser.GetResponse();
        const Kept& k = c.kept;
        EXPECT_EQ(r.authType, k.type) << c.comment;
        EXPECT_EQ(r.realm, k.realm) << c.comment;
        EXPECT_EQ(r.nonce, k.nonce) << c.comment;
        EXPECT_EQ(r.qopAuth, k.qop) << c.comment;
        EXPECT_EQ(r.opaque, k.opaque) << c.comment;
        if (k.type != A::kDigest) continue;
        EXPECT_EQ(r.digestAlgorithm, k.algorithm) << c.comment;
        EXPECT_EQ(r.algorithmNamed, k.named) << c.comment;
        EXPECT_EQ(r.userhash, k.userhash) << c.comment;
        EXPECT_EQ(r.stale, k.stale) << c.comment;
    }
}

TEST(RTSPResponseParserTest, ReadsTrackControlsFromTheSessionDescription) {
    struct Case {
        const char* comment;
        const char* sdp;
        bool ok;
        const char* video;
        const char* audio;
        const char* metadata;
    };
    const Case cases[] = {
        {"three tracks",
         "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=Session\r\na=control:*\r\n"
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n"
         "m=audio 0 RTP/AVP 0\r\na=control:trackID=2\r\n"
         "m=metadata 0 RTP/AVP 107\r\na=control:trackID=3\r\n",
         true, "trackID=1", "trackID=2", "trackID=3"},
        {"'stream=0' controls",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:stream=0\r\nm=audio 0 RTP/AVP 97\r\na=control:streamid=1\r\n", true,
         "stream=0", "streamid=1", ""},
        {"fmtp data holding 'm='",
         "m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQFm=,aM48gA==\r\n"
         "a=control:track1\r\n",
         true, "track1", "", ""},
        {"LF line ends, last line without one", "m=video 0 RTP/AVP 26\na=control:trackID=1", true, "trackID=1", "",
         ""},
        {"blank line inside", "m=audio 0 RTP/AVP 0\r\n\r\nm=video 0 RTP/AVP 26\r\na=control:v\r\n", true, "v", "", ""},
        {"control in capitals, blank after colon", "m=video 0 RTP/AVP 26\r\nA=CONTROL: trackID=1\r\n", true,
         "trackID=1", "", ""},
        {"absolute control", "m=video 0 RTP/AVP 26\r\na=control:rtsp://cam/live/track1\r\n", true,
         "rtsp://cam/live/track1", "", ""},
        {"other media ends the description", "m=video 0 RTP/AVP 26\r\nm=application 0 RTP/AVP 98\r\na=control:x\r\n",
         true, "", "", ""},
        {"empty control", "m=video 0 RTP/AVP 26\r\na=control:\r\n", false, "", "", ""},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        std::string sdp = c.sdp;
        std::string text = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: Application/SDP\r\nContent-Length: " +
                           std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
        EXPECT_EQ(parser.ParseResponse(RTSPMethod::kDescribe, text), c.ok) << c.comment;
        if (!c.ok) continue;
        const RTSPResponse& r = parser.GetResponse();
        EXPECT_EQ(r.contentType, "application/sdp") << c.comment;
        EXPECT_EQ(r.videoControl, c.video) << c.comment;
        EXPECT_EQ(r.audioControl, c.audio) << c.comment;
        EXPECT_EQ(r.metadataControl, c.metadata) << c.comment;
    }
}

TEST(RTSPResponseParserTest, BodyBelongsToItsResponseAndTheRestCarriesOver) {
    CRTSPResponseParser parser;
    const RTSPResponse& r = parser.GetResponse();
    ASSERT_TRUE(parser.ParseResponse(RTSPMethod::kDescribe,
                                     "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                                     "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\"\r\n\r\n"));
    std::string sdp = "m=video 0 RTP/AVP 26\r\na=control:trackID=1\r\n";
    ASSERT_TRUE(parser.ParseResponse(RTSPMethod::kDescribe, "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " +
                                                                std::to_string(sdp.size()) + "\r\n\r\n" + sdp));
    EXPECT_EQ(r.contentLength, sdp.size());
    ASSERT_TRUE(parser.ParseResponse(RTSPMethod::kSetup, "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: s1;timeout=20\r\n\r\n"));
    // The next answer has no body: a Content-Length kept from before would read past it.
    ASSERT_TRUE(parser.ParseResponse(RTSPMethod::kDescribe, "RTSP/1.0 200 OK\r\nCSeq: 4\r\n\r\n"));
    EXPECT_EQ(r.contentLength, 0u);
    EXPECT_EQ(r.videoControl, "trackID=1");
    EXPECT_EQ(r.session, "s1");
    EXPECT_EQ(r.sessionTimeout, 20u);
    // The challenge stays for later requests until another 401 brings a new one.
    EXPECT_EQ(r.authType, RTSPAuthType::kDigest);
    EXPECT_EQ(r.nonce, "n1");
    // A failed parse leaves the earlier facts.
    EXPECT_FALSE(parser.ParseResponse(RTSPMethod::kOptions, "RTSP/1.0 454 Session Not Found\r\nCSeq: 5\r\n\r\n"));
    EXPECT_EQ(r.statusCode, 454);
    EXPECT_EQ(r.cseq, 4u);
    EXPECT_EQ(r.session, "s1");
}

TEST(RTSPResponseParserTest, FrameResponseFindsTheEndOfEachResponse) {
    using S = RTSPFraming::Status;
    struct Case {
        const char* comment;
        std::string buffered;
        S status;
        std::size_t start;
        std::size_t length;
    };
    const Case cases[] = {
        {"headers only", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", S::kComplete, 0, 28},
        {"header block open", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", S::kIncomplete, 0, 0},
        {"body", "RTSP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc", S::kComplete, 0, 41},
        {"next response behind", "RTSP/1.0 200 OK\r\n\r\nRTSP/1.0 200 OK\r\n\r\n", S::kComplete, 0, 19},
        {"leading blank lines", "\r\n\nRTSP/1.0 200 OK\n\n", S::kComplete, 3, 17},
        {"CR LF split after the empty line's CR, body follows", "RTSP/1.0 200 OK\r\nContent-Length: 1\r\n\r",
         S::kIncomplete, 0, 0},
        {"Content-Length not a number", "RTSP/1.0 200 OK\r\nContent-Length: 1x\r\n\r\n", S::kInvalid, 0, 0},
        // On 32 bits the end of the body once wrapped to before its start.
        {"Content-Length near 2^32", "RTSP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\nabc", S::kIncomplete, 0,
         0},
        {"two different Content-Lengths", "RTSP/1.0 200 OK\r\nContent-Length: 1\r\ncontent-length: 2\r\n\r\nab",
         S::kInvalid, 0, 0},
    };
    for (const Case& c : cases) {
        RTSPFraming framing = CRTSPResponseParser::FrameResponse(c.buffered);
        EXPECT_EQ(framing.status, c.status) << c.comment;
        if (c.status != S::kComplete) continue;
        EXPECT_EQ(framing.start, c.start) << c.comment;
        EXPECT_EQ(framing.length, c.length) << c.comment;
    }
}

TEST(RTSPResponseParserTest, FrameResponseIsCompleteOnlyOnceEveryByteIsThere) {
    const std::string responses[] = {
        "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: 25\r\n\r\n"
        "v=0\r\nm=video 0 RTP/AVP 26",
        "RTSP/1.0 200 OK\nCSeq: 2\nContent-Length: 5\n\n\r\nabc",
        "RTSP/1.0 200 OK\rContent-Length: 2\r\rab",
    };
    for (const std::string& full : responses) {
        for (std::size_t size = 0; size < full.size(); ++size) {
            RTSPFraming framing = CRTSPResponseParser::FrameResponse(std::string_view(full).substr(0, size));
            ASSERT_EQ(framing.status, RTSPFraming::Status::kIncomplete) << testing::PrintToString(full) << " at " << size;
        }
        RTSPFraming framing = CRTSPResponseParser::FrameResponse(full);
        ASSERT_EQ(framing.status, RTSPFraming::Status::kComplete) << testing::PrintToString(full);
        EXPECT_EQ(framing.length, full.size());
        CRTSPResponseParser parser;
        EXPECT_TRUE(parser.ParseResponse(RTSPMethod::kDescribe, full)) << testing::PrintToString(full);
    }
}

}  // namespace
}  // namespace kestrel
