#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rtsp/base64.h"
#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_client.h"
#include "scripted_rtsp_server.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedReply;
using testing::ScriptedRtspServer;
using Clock = std::chrono::steady_clock;

ScriptedReply Reply(std::string text) { return ScriptedReply{{std::move(text)}}; }

std::string Ok(unsigned cseq, const std::string& headers = "") {
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers + "\r\n";
}

std::string WithSdp(unsigned cseq, const std::string& sdp) {
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) +
           "\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

std::string Unauthorized(unsigned cseq, const std::string& challenge) {
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) + "\r\nWWW-Authenticate: " + challenge +
           "\r\n\r\n";
}

const std::string kSdp =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Camera\r\nt=0 0\r\na=control:*\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQFm=,aM48gA==\r\na=control:trackID=1\r\n"
    "m=audio 0 RTP/AVP 0\r\na=control:trackID=2\r\n";

RTSPConnectSettings SettingsFor(const ScriptedRtspServer& server) {
    RTSPConnectSettings settings;
    settings.host = "127.0.0.1";
    settings.serverPort = server.Port();
    settings.connectTimeout = 1000;
    settings.receiveTimeout = 2000;
    settings.describePath = "live.sdp";
    settings.setupPath = "live";
    settings.playPath = "live";
    settings.teardownPath = "live";
    return settings;
}

// The value of header `name` in a request, or "(none)".
std::string Header(const std::string& request, const std::string& name) {
    std::size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "(none)";
    at += name.size() + 4;
    return request.substr(at, request.find("\r\n", at) - at);
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(RTSPClientTest, WritesTheSixRequestsByteForByte) {
    ScriptedRtspServer server({
        Reply(Ok(1, "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN\r\n")),
        Reply(WithSdp(2, kSdp)),
        Reply(Ok(3, "Session: 12AB;timeout=60\r\nTransport: RTP/AVP;unicast;client_port=3556-3557\r\n")),
        Reply(Ok(4)),
        Reply(Ok(5)),
        Reply(Ok(6)),
    });
    ASSERT_TRUE(server.Listening());
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/";
    {
        CBaseRTSPClient client;
        RTSPConnectSettings settings = SettingsFor(server);
        settings.clientRtpPort = 3556;
        settings.clientRtcpPort = 3557;
        settings.defaultSessionTimeout = 10;
        settings.describePath = "StreamingSetting?version=1.0&action=getRTSPStream&sessionID=S1&ChannelID=1";
        settings.setupPath = "ChannelID=1&ChannelName=Channel1";
        settings.playPath = "ChannelID=1&ChannelName=Channel1";
        settings.teardownPath = "ChannelID=1&ChannelName=Channel2";
        ASSERT_TRUE(client.Connect(settings));
        EXPECT_EQ(client.GetSessionTimeout(), 10000u);
        for (RTSPMethod method : {RTSPMethod::kOptions, RTSPMethod::kDescribe, RTSPMethod::kSetup, RTSPMethod::kPlay,
                                  RTSPMethod::kPause, RTSPMethod::kTeardown}) {
            EXPECT_TRUE(client.Execute(method)) << GetMethodName(method);
            EXPECT_EQ(client.GetResponse().statusCode, 200) << GetMethodName(method);
        }
        EXPECT_EQ(client.GetSessionTimeout(), 60000u);
    }
    server.Stop();
    const std::vector<std::string> expected = {
        "OPTIONS " + base + "StreamingSetting?version=1.0&action=getRTSPStream&sessionID=S1&ChannelID=1 RTSP/1.0\r\n"
        "CSeq: 1\r\nSession: \r\nUser-Agent: Kestrel\r\n\r\n",
        "DESCRIBE " + base + "StreamingSetting?version=1.0&action=getRTSPStream&sessionID=S1&ChannelID=1 RTSP/1.0\r\n"
        "CSeq: 2\r\nAccept: application/sdp\r\nUser-Agent: Kestrel\r\n\r\n",
        "SETUP " + base + "ChannelID=1&ChannelName=Channel1/trackID=1 RTSP/1.0\r\n"
        "CSeq: 3\r\nTransport: RTP/AVP/UDP;unicast;client_port=3556-3557\r\nUser-Agent: Kestrel\r\n\r\n",
        "PLAY " + base + "ChannelID=1&ChannelName=Channel1 RTSP/1.0\r\n"
        "CSeq: 4\r\nSession: 12AB\r\nRange: npt=0.000-\r\nUser-Agent: Kestrel\r\n\r\n",
        "PAUSE " + base + "ChannelID=1&ChannelName=Channel1 RTSP/1.0\r\n"
        "CSeq: 5\r\nSession: 12AB\r\nRange: npt=0.000-\r\nUser-Agent: Kestrel\r\n\r\n",
        "TEARDOWN " + base + "ChannelID=1&ChannelName=Channel2 RTSP/1.0\r\n"
        "CSeq: 6\r\nSession: 12AB\r\nUser-Agent: Kestrel\r\n\r\n",
    };
    EXPECT_EQ(server.Requests(), expected);
}

TEST(RTSPClientTest, AnswersBasicChallengeOnce) {
    struct Case {
        const char* comment;
        std::vector<ScriptedReply> replies;
        const char* user;
        const char* password;
        std::int32_t status;
    };
    const std::string basic = "Basic realm=\"IP Camera\"";
    const Case cases[] = {
        {"401 then 200", {Reply(Unauthorized(1, basic)), Reply(Ok(2))}, "admin", "secret", 200},
        {"a second 401 stands", {Reply(Unauthorized(1, basic)), Reply(Unauthorized(2, basic))}, "admin", "secret",
         401},
        // Past 57 bytes of user:password a line break once went into the value.
        {"credentials past 72 bytes",
         {Reply(Unauthorized(1, basic)), Reply(Ok(2))},
         "an-operator-with-a-really-very-long-user-name",
         "and-a-password-that-is-even-longer-than-the-user-name-is",
         200},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server(c.replies);
        ASSERT_TRUE(server.Listening());
        RTSPAuthType used = RTSPAuthType::kNone;
        {
            CBaseRTSPClient client;
            RTSPConnectSettings settings = SettingsFor(server);
            settings.user = c.user;
            settings.password = c.password;
            ASSERT_TRUE(client.Connect(settings));
            EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
            EXPECT_EQ(client.GetResponse().statusCode, c.status) << c.comment;
            used = client.GetSettings().authType;
        }
        server.Stop();
        EXPECT_EQ(used, RTSPAuthType::kBasic) << c.comment;
        std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u) << c.comment;
        EXPECT_EQ(Header(requests[0], "Authorization"), "(none)") << c.comment;
        EXPECT_EQ(Header(requests[1], "Authorization"),
                  "Basic " + Base64Encode(std::string(c.user) + ":" + c.password))
            << c.comment;
        // The credentials sit on one line, and User-Agent still closes the block.
        std::string tail = "\r\nUser-Agent: Kestrel\r\n\r\n";
        EXPECT_EQ(requests[1].substr(requests[1].size() - tail.size()), tail) << c.comment;
    }
    EXPECT_EQ(Base64Encode("admin:secret"), "YWRtaW46c2VjcmV0");
}

struct DigestFields {
    std::string nonce;
    std::string response;
    std::string nc;
    std::string cnonce;
    std::string opaque;
};

std::string DigestParameter(const std::string& header, const std::string& name) {
    std::size_t at = header.find(" " + name + "=");
    if (at == std::string::npos) return "(none)";
    at += name.size() + 2;
    bool quoted = header[at] == '"';
    if (quoted) ++at;
    std::size_t end = header.find(quoted ? "\"" : ",", at);
    return header.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

TEST(RTSPClientTest, DigestRetriesWithEachNewNonce) {
    ScriptedRtspServer server({
        Reply(Unauthorized(1, "Digest realm=\"IP Camera\", nonce=\"n1\"")),
        Reply(WithSdp(2, kSdp)),
        Reply(Unauthorized(3, "Digest realm=\"IP Camera\", nonce=\"n2\", stale=TRUE")),
        Reply(Ok(4, "Session: S\r\n")),
        Reply(Ok(5)),
    });
    ASSERT_TRUE(server.Listening());
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/";
    {
        CBaseRTSPClient client;
        RTSPConnectSettings settings = SettingsFor(server);
        settings.user = "admin";
        settings.password = "secret";
        ASSERT_TRUE(client.Connect(settings));
        EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe));
        EXPECT_TRUE(client.Execute(RTSPMethod::kSetup));
        EXPECT_TRUE(client.Execute(RTSPMethod::kPlay));
        EXPECT_EQ(client.GetResponse().statusCode, 200);
        EXPECT_EQ(client.GetSettings().authType, RTSPAuthType::kDigest);
    }
    server.Stop();
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    struct Expected {
        const char* method;
        const char* nonce;
        std::string uri;
    };
    const Expected expected[] = {
        {"DESCRIBE", "n1", base + "live.sdp"},
        {"SETUP", "n1", base + "live/trackID=1"},  // the nonce in hand, refused as stale
        {"SETUP", "n2", base + "live/trackID=1"},
        {"PLAY", "n2", base + "live"},
    };
    EXPECT_EQ(Header(requests[0], "Authorization"), "(none)");
    for (std::size_t i = 0; i < 4; ++i) {
        const Expected& e = expected[i];
        DigestInput input{DigestAlgorithm::kMd5, "admin", "IP Camera", "secret", e.method, e.uri, e.nonce, "", ""};
        // RFC 2069 form exactly: no qop, nc, cnonce or opaque.
        std::string header = "Digest username=\"admin\", realm=\"IP Camera\", nonce=\"" + std::string(e.nonce) +
                             "\", uri=\"" + e.uri + "\", response=\"" + ComputeDigestResponse(input).data() + "\"";
        EXPECT_EQ(Header(requests[i + 1], "Authorization"), header) << i;
    }
}

TEST(RTSPClientTest, DigestAnswersEachAlgorithmAndCountsNonces) {
    using D = DigestAlgorithm;
    struct Case {
        const char* comment;
        const char* challenge;
        D algorithm;
        const char* echoed;  // the algorithm parameter of the answer
        bool qop;
        bool userhash;
        const char* opaque = "(none)";
    };
    const Case cases[] = {
        {"MD5 named, opaque", "Digest realm=\"cam\", nonce=\"abc\", algorithm=MD5, qop=\"auth\", opaque=\"op\"", D::kMd5,
         "MD5", true, false, "op"},
        {"SHA-256", "Digest realm=\"cam\", nonce=\"abc\", algorithm=SHA-256, qop=\"auth\"", D::kSha256, "SHA-256",
         true, false},
        {"SHA-256 without qop", "Digest realm=\"cam\", nonce=\"abc\", algorithm=SHA-256", D::kSha256, "SHA-256", false,
         false},
        {"SHA-256-sess, userhash",
         "Digest realm=\"cam\", nonce=\"abc\", algorithm=SHA-256-sess, qop=\"auth\", userhash=true", D::kSha256Sess,
         "SHA-256-sess", true, true},
        {"MD5-sess", "Digest realm=\"cam\", nonce=\"abc\", algorithm=md5-sess, qop=\"auth-int, auth\"", D::kMd5Sess,
         "MD5-sess", true, false},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server({Reply(Unauthorized(1, c.challenge)), Reply(WithSdp(2, kSdp)), Reply(Ok(3))});
        ASSERT_TRUE(server.Listening());
        const std::string base = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/";
        {
            int made = 0;
            CBaseRTSPClient client([&made] { return "cn" + std::to_string(++made); });
            RTSPConnectSettings settings = SettingsFor(server);
            settings.user = "admin";
            settings.password = "secret";
            ASSERT_TRUE(client.Connect(settings));
            EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
            EXPECT_TRUE(client.Execute(RTSPMethod::kSetup)) << c.comment;
            EXPECT_EQ(client.GetResponse().statusCode, 200) << c.comment;
        }
        server.Stop();
        std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), 3u) << c.comment;
        struct Expected {
            const char* method;
            std::string uri;
            const char* nc;
            const char* cnonce;
        };
        const Expected expected[] = {{"DESCRIBE", base + "live.sdp", "00000001", "cn1"},
                                     {"SETUP", base + "live/trackID=1", "00000002", "cn2"}};
        for (std::size_t i = 0; i < 2; ++i) {
            const Expected& e = expected[i];
            std::string header = Header(requests[i + 1], "Authorization");
            DigestInput input{c.algorithm, "admin", "cam", "secret", e.method, e.uri, "abc", "", ""};
            if (c.qop) {
                input.nonceCount = e.nc;
                input.cnonce = e.cnonce;
            }
            EXPECT_EQ(DigestParameter(header, "response"), ComputeDigestResponse(input)) << header;
            EXPECT_EQ(DigestParameter(header, "algorithm"), c.echoed) << header;
            EXPECT_EQ(DigestParameter(header, "qop"), c.qop ? "auth" : "(none)") << header;
            EXPECT_EQ(DigestParameter(header, "nc"), c.qop ? e.nc : "(none)") << header;
            EXPECT_EQ(DigestParameter(header, "username"),
                      c.userhash ? ComputeDigestUserHash(c.algorithm, "admin", "cam") : "admin")
                << header;
            EXPECT_EQ(DigestParameter(header, "userhash"), c.userhash ? "true" : "(none)") << header;
            EXPECT_EQ(DigestParameter(header, "opaque"), c.opaque) << header;
        }
    }
}

TEST(RTSPClientTest, AnswersTheRfc7616ChallengeInFull) {
    // RFC 7616 section 3.9.1's challenge and client nonce, on an RTSP request.
    const std::string nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
    const std::string opaque = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
    const std::string cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    ScriptedRtspServer server({Reply(Unauthorized(1, "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
                                                     "algorithm=SHA-256, nonce=\"" + nonce + "\", opaque=\"" + opaque + "\"")),
                               Reply(WithSdp(2, kSdp))});
    ASSERT_TRUE(server.Listening());
    const std::string uri = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/live.sdp";
    {
        CBaseRTSPClient client([&cnonce] { return cnonce; });
        RTSPConnectSettings settings = SettingsFor(server);
        settings.user = "Mufasa";
        settings.password = "Circle of Life";
        ASSERT_TRUE(client.Connect(settings));
        EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe));
        EXPECT_EQ(client.GetResponse().statusCode, 200);
    }
    server.Stop();
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    DigestInput input{DigestAlgorithm::kSha256, "Mufasa", "http-auth@example.org", "Circle of Life", "DESCRIBE", uri,
                      nonce, "00000001", cnonce};
    EXPECT_EQ(Header(requests[1], "Authorization"),
              "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", nonce=\"" + nonce + "\", uri=\"" + uri +
                  "\", response=\"" + ComputeDigestResponse(input) + "\", algorithm=SHA-256, qop=auth, nc=00000001, "
                  "cnonce=\"" + cnonce + "\", opaque=\"" + opaque + "\"");
}

TEST(RTSPClientTest, OfSeveralChallengesAnswersTheStrongest) {
    const std::string md5 = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"m\", qop=\"auth\"\r\n";
    const std::string sha = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"s\", qop=\"auth\", algorithm=SHA-256\r\n";
    const std::string basic = "WWW-Authenticate: Basic realm=\"cam\"\r\n";
    struct Case {
        const char* comment;
        std::string challenges;
        std::string scheme;  // of the retry's Authorization header
    };
    const Case cases[] = {
        {"MD5, SHA-256", md5 + sha, "Digest"},
        {"SHA-256, MD5", sha + md5, "Digest"},
        {"Basic, SHA-256, MD5", basic + sha + md5, "Digest"},
        {"SHA-256, Basic", sha + basic, "Digest"},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server(
            {Reply("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n" + c.challenges + "\r\n"), Reply(WithSdp(2, kSdp))});
        ASSERT_TRUE(server.Listening());
        {
            CBaseRTSPClient client([] { return std::string("cn"); });
            RTSPConnectSettings settings = SettingsFor(server);
            settings.user = "admin";
            settings.password = "secret";
            ASSERT_TRUE(client.Connect(settings));
            EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
        }
        server.Stop();
        std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u) << c.comment;
        std::string header = Header(requests[1], "Authorization");
        EXPECT_EQ(header.substr(0, header.find(' ')), c.scheme) << c.comment;
        EXPECT_EQ(DigestParameter(header, "nonce"), "s") << c.comment;
        EXPECT_EQ(DigestParameter(header, "algorithm"), "SHA-256") << c.comment;
    }
}

TEST(RTSPClientTest, ChallengeItCannotAnswerIsLeftWithoutARequest) {
    for (const char* challenge : {"Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256, qop=auth",
                                  "Digest realm=\"r\", nonce=\"n\", algorithm=MD5-sess",  // -sess needs qop
                                  "Digest realm=\"r\", nonce=\"n\", qop=auth-int"}) {
        ScriptedRtspServer server({Reply(Unauthorized(1, challenge)), Reply(Ok(2))});
        ASSERT_TRUE(server.Listening());
        {
            CBaseRTSPClient client;
            RTSPConnectSettings settings = SettingsFor(server);
            settings.user = "admin";
            settings.password = "secret";
            ASSERT_TRUE(client.Connect(settings));
            EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe)) << challenge;
            EXPECT_EQ(client.GetResponse().statusCode, 401) << challenge;
            EXPECT_EQ(client.GetSettings().authType, RTSPAuthType::kNone) << challenge;
        }
        server.Stop();
        EXPECT_EQ(server.Requests().size(), 1u) << challenge;
    }
}

TEST(RTSPClientTest, StaleNonceIsRenewedWithoutCountingAsARefusal) {
    const std::string sha = "Digest realm=\"cam\", qop=\"auth\", algorithm=SHA-256, nonce=";
    ScriptedRtspServer server({
        Reply(Unauthorized(1, sha + "\"n1\"")),
        Reply(Unauthorized(2, sha + "\"n2\", stale=true")),  // n1 expired between challenge and answer
        Reply(WithSdp(3, kSdp)),
        Reply(Ok(4, "Session: S;timeout=60\r\n")),
        Reply(Unauthorized(5, sha + "\"n3\", stale=true")),  // the keep-alive finds n2 expired
        Reply(Ok(6)),
        Reply(Ok(7)),
    });
    ASSERT_TRUE(server.Listening());
    {
        CBaseRTSPClient client([] { return std::string("cn"); });
        RTSPConnectSettings settings = SettingsFor(server);
        settings.user = "admin";
        settings.password = "secret";
        ASSERT_TRUE(client.Connect(settings));
        EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe));
        EXPECT_EQ(client.GetResponse().statusCode, 200);
        EXPECT_EQ(client.GetResponse().videoControl, "trackID=1");
        EXPECT_TRUE(client.Execute(RTSPMethod::kSetup));
        EXPECT_TRUE(client.Execute(RTSPMethod::kOptions));
        EXPECT_EQ(client.GetResponse().statusCode, 200);
        EXPECT_TRUE(client.Execute(RTSPMethod::kOptions));
        EXPECT_EQ(client.GetResponse().statusCode, 200);
    }
    server.Stop();
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 7u);
    const char* expected[][2] = {{"(none)", "(none)"}, {"n1", "00000001"}, {"n2", "00000001"}, {"n2", "00000002"},
                                 {"n2", "00000003"},  {"n3", "00000001"},  {"n3", "00000002"}};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        std::string header = Header(requests[i], "Authorization");
        EXPECT_EQ(DigestParameter(header, "nonce"), expected[i][0]) << i;
        EXPECT_EQ(DigestParameter(header, "nc"), expected[i][1]) << i;
    }
}

TEST(RTSPClientTest, SecondDigestChallengeIsNotRetried) {
    ScriptedRtspServer server({
        Reply(Unauthorized(1, "Digest realm=\"r\", nonce=\"n1\"")),
        Reply(Unauthorized(2, "Digest realm=\"r\", nonce=\"n2\"")),
    });
    ASSERT_TRUE(server.Listening());
    {
        CBaseRTSPClient client;
        RTSPConnectSettings settings = SettingsFor(server);
        settings.user = "admin";
        settings.password = "wrong";
        ASSERT_TRUE(client.Connect(settings));
        EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe));
        EXPECT_EQ(client.GetResponse().statusCode, 401);
        EXPECT_EQ(client.GetResponse().nonce, "n2");
    }
    server.Stop();
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(RTSPClientTest, ReadsResponsesHoweverTheyArrive) {
    // 512 bytes in all: a reader that stops only on a short read would wait for the time-out.
    std::string padded = WithSdp(1, kSdp);
    std::string sdp512 = kSdp + "a=x-pad:" + std::string(512 - padded.size() - 10, 'p') + "\r\n";
    std::string exact512 = WithSdp(1, sdp512);
    ASSERT_EQ(exact512.size(), 512u);
    struct Case {
        const char* comment;
        ScriptedReply reply;
    };
    const Case cases[] = {
        {"many small segments", testing::Split(WithSdp(1, kSdp), 3, 1ms)},
        {"exactly 512 bytes", Reply(exact512)},
        {"headers and body apart", ScriptedReply{{WithSdp(1, kSdp).substr(0, 80), WithSdp(1, kSdp).substr(80)}, 50ms}},
        {"CR LF split across segments",
         ScriptedReply{{"RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: " + std::to_string(kSdp.size()) + "\r\n\r",
                        "\n" + kSdp},
                       20ms}},
        {"blank line left by a previous answer", Reply("\r\n" + WithSdp(1, kSdp))},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server({c.reply});
        ASSERT_TRUE(server.Listening());
        long long elapsed = 0;
        {
            CBaseRTSPClient client;
            RTSPConnectSettings settings = SettingsFor(server);
            settings.receiveTimeout = 5000;  // the default, so a needless wait would show
            ASSERT_TRUE(client.Connect(settings));
            Clock::time_point start = Clock::now();
            EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
            elapsed = MillisecondsSince(start);
            EXPECT_EQ(client.GetResponse().videoControl, "trackID=1") << c.comment;
            EXPECT_EQ(client.GetResponse().audioControl, "trackID=2") << c.comment;
        }
        EXPECT_LT(elapsed, 2000) << c.comment;
        server.Stop();
    }
}

TEST(RTSPClientTest, FailsBadOrMissingAnswersWithinTheReceiveTimeout) {
    std::string headers = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 400\r\n\r\nv=0\r\n";
    struct Case {
        const char* comment;
        ScriptedReply reply;
        long long atLeastMs;
    };
    const Case cases[] = {
        {"never answers", ScriptedReply{}, 250},
        {"body never completes", Reply(headers), 250},
        {"header block never closed", Reply("RTSP/1.0 200 OK\r\nCSeq: 1\r\n"), 250},
        {"larger than any response", Reply("RTSP/1.0 200 OK\r\nX-Pad: " + std::string(70000, 'x')), 0},
        {"Content-Length not a number", Reply("RTSP/1.0 200 OK\r\nContent-Length: ten\r\n\r\n"), 0},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server({c.reply});
        ASSERT_TRUE(server.Listening());
        {
            CBaseRTSPClient client;
            RTSPConnectSettings settings = SettingsFor(server);
            settings.receiveTimeout = 300;
            ASSERT_TRUE(client.Connect(settings));
            Clock::time_point start = Clock::now();
            EXPECT_FALSE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
            long long elapsed = MillisecondsSince(start);
            EXPECT_GE(elapsed, c.atLeastMs) << c.comment;
            EXPECT_LT(elapsed, 1500) << c.comment;
        }
        server.Stop();
    }
}

TEST(RTSPClientTest, EachExchangeTakesTheAnswerToItsOwnRequest) {
    const std::string sdpWithoutLength = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n\r\n" + kSdp;
    struct Case {
        const char* comment;
        std::vector<ScriptedReply> replies;  // to OPTIONS, DESCRIBE, SETUP
        bool optionsAnswered;
        bool describeRead;  // the DESCRIBE answer with its SDP reached the client
    };
    const Case cases[] = {
        {"OPTIONS answered twice", {Reply(Ok(1) + Ok(1)), Reply(WithSdp(2, kSdp)), Reply(Ok(3, "Session: S\r\n"))},
         true, true},
        {"OPTIONS answered after its time-out",
         {ScriptedReply{{Ok(1)}, 500ms}, Reply(WithSdp(2, kSdp)), Reply(Ok(3, "Session: S\r\n"))}, false, true},
        {"DESCRIBE body without Content-Length",
         {Reply(Ok(1)), Reply(sdpWithoutLength), Reply(Ok(3, "Session: S\r\n"))}, true, false},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server(c.replies);
        ASSERT_TRUE(server.Listening());
        {
            CBaseRTSPClient client;
            RTSPConnectSettings settings = SettingsFor(server);
            settings.receiveTimeout = 300;
            ASSERT_TRUE(client.Connect(settings));
            EXPECT_EQ(client.Execute(RTSPMethod::kOptions), c.optionsAnswered) << c.comment;
            EXPECT_TRUE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
            EXPECT_EQ(client.GetResponse().cseq, 2u) << c.comment;
            EXPECT_EQ(client.GetResponse().videoControl, c.describeRead ? "trackID=1" : "") << c.comment;
            EXPECT_TRUE(client.Execute(RTSPMethod::kSetup)) << c.comment;
            EXPECT_EQ(client.GetResponse().cseq, 3u) << c.comment;
            EXPECT_EQ(client.GetResponse().session, "S") << c.comment;
        }
        server.Stop();
    }
}

TEST(RTSPClientTest, InterruptEndsABlockedExchange) {
    ScriptedRtspServer server({ScriptedReply{}});
    ASSERT_TRUE(server.Listening());
    {
        CBaseRTSPClient client;
        RTSPConnectSettings settings = SettingsFor(server);
        settings.receiveTimeout = 5000;
        ASSERT_TRUE(client.Connect(settings));
        std::thread stopper([&client] {
            std::this_thread::sleep_for(100ms);
            client.Interrupt();
        });
        Clock::time_point start = Clock::now();
        EXPECT_FALSE(client.Execute(RTSPMethod::kOptions));
        EXPECT_LT(MillisecondsSince(start), 2000);
        stopper.join();
        EXPECT_FALSE(client.Execute(RTSPMethod::kOptions));  // stays cut off until Disconnect
    }
    server.Stop();
}

TEST(RTSPClientTest, RefusesRequestsThatWouldBreakTheirLines) {
    struct Case {
        const char* comment;
        const char* describePath;
        std::string user;
        std::string password;
        RTSPAuthType authType;
    };
    const Case cases[] = {
        {"line break in path", "live\r\nX-Injected: 1", "admin", "secret", RTSPAuthType::kNone},
        {"blank in path", "live stream", "admin", "secret", RTSPAuthType::kNone},
        {"colon in Basic user", "live", "ad:min", "secret", RTSPAuthType::kBasic},
        {"line break in Basic user", "live", "admin\r\nX-Injected: 1", "secret", RTSPAuthType::kBasic},
        {"line feed in Basic password", "live", "admin", "sec\nret", RTSPAuthType::kBasic},
        {"NUL in Basic password", "live", "admin", std::string("sec\0ret", 7), RTSPAuthType::kBasic},
        {"line break in Digest user", "live", "admin\r\nX-Injected: 1", "secret", RTSPAuthType::kDigest},
    };
    for (const Case& c : cases) {
        ScriptedRtspServer server({Reply(Ok(1))});
        ASSERT_TRUE(server.Listening());
        {
            CBaseRTSPClient client;
            RTSPConnectSettings settings = SettingsFor(server);
            settings.describePath = c.describePath;
            settings.user = c.user;
            settings.password = c.password;
            settings.authType = c.authType;
            ASSERT_TRUE(client.Connect(settings));
            EXPECT_FALSE(client.Execute(RTSPMethod::kDescribe)) << c.comment;
        }
        server.Stop();
        EXPECT_TRUE(server.Requests().empty()) << c.comment;
    }
}

// A listener whose accept queue is full: further SYNs go unanswered, as from a dead address.
struct SilentPeer {
    platform::TcpListener listener;
    std::vector<platform::TcpSocket> fillers;
    bool silent = false;

    SilentPeer() {
        if (listener.Listen(0, 0) != platform::SocketError::kNone) return;
        for (int i = 0; i < 8 && !silent; ++i) {
            platform::TcpSocket socket;
            socket.Create();
            platform::SocketError error = socket.Connect({platform::kIpv4Loopback, listener.Port()}, 200);
            silent = error == platform::SocketError::kTimedOut;
            fillers.push_back(std::move(socket));
        }
    }
};

TEST(RTSPClientTest, ConnectIsBoundedByTheConnectTimeout) {
    SilentPeer silentPeer;
    platform::TcpListener closed;
    ASSERT_EQ(closed.Listen(0, 1), platform::SocketError::kNone);
    std::uint16_t closedPort = closed.Port();
    closed.Close();

    struct Case {
        const char* comment;
        std::uint16_t port;
        std::uint32_t connectTimeout;
        long long atLeastMs;
        long long belowMs;
        bool needsSilentPeer;
    };
    const Case cases[] = {
        {"closed port", closedPort, 2000, 0, 1000, false},
        {"never answers", silentPeer.listener.Port(), 300, 280, 1500, true},
        {"never answers, time-out below one poll", silentPeer.listener.Port(), 50, 90, 1000, true},
    };
    for (const Case& c : cases) {
        if (c.needsSilentPeer && !silentPeer.silent) {
            ADD_FAILURE() << c.comment << ": this system answers every connect; cannot stage a silent peer";
            continue;
        }
        CBaseRTSPClient client;
        RTSPConnectSettings settings;
        settings.host = "127.0.0.1";
        settings.serverPort = c.port;
        settings.connectTimeout = c.connectTimeout;
        Clock::time_point start = Clock::now();
        EXPECT_FALSE(client.Connect(settings)) << c.comment;
        long long elapsed = MillisecondsSince(start);
        EXPECT_GE(elapsed, c.atLeastMs) << c.comment;
        EXPECT_LT(elapsed, c.belowMs) << c.comment;
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(client.Execute(RTSPMethod::kOptions)) << c.comment;
    }
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

std::string InterleavedFrame(unsigned channel, std::size_t length) {
    std::string frame = {'$', char(channel), char(length >> 8), char(length & 0xFF)};
    std::string payload(length, 'p');
    payload[0] = char(0x80);
    return frame + payload;
}

// Collects what the client hands over from an interleaved connection.
struct RecordingSink : IInterleavedSink {
    void OnInterleavedFrame(std::uint8_t channel, const std::uint8_t*, std::size_t length) override {
        frames.push_back("F" + std::to_string(channel) + ":" + std::to_string(length));
    }
    void OnInterleavedResync() override { ++resyncs; }
    std::vector<std::string> frames;
    int resyncs = 0;
};

// A peer that answers the interleaved conversation below and records what the client sent.
class InterleavedPeer {
public:
    InterleavedPeer() {
        m_listening = m_listener.Listen(0, 1) == platform::SocketError::kNone;
        if (m_listening) m_thread = std::thread([this] { Run(); });
    }
    ~InterleavedPeer() {
        if (m_thread.joinable()) m_thread.join();
    }
    std::uint16_t Port() const { return m_listener.Port(); }
    bool Listening() const { return m_listening; }
    std::string Received() {
        if (m_thread.joinable()) m_thread.join();
        return m_received;
    }

private:
    void Run() {
        platform::TcpSocket peer;
        if (m_listener.Accept(peer, 3000) != platform::SocketError::kNone) return;
        const std::string steps[] = {
            Ok(1, "Session: abc;timeout=60\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"),
            // Media ahead of PLAY's answer and behind it, in one segment.
            InterleavedFrame(0, 20) + Ok(2) + InterleavedFrame(0, 30),
            // The keep-alive's answer between packets, and a request of the server's own.
            InterleavedFrame(0, 40) + Ok(3) + "GET_PARAMETER rtsp://cam/ RTSP/1.0\r\nCSeq: 9\r\n\r\n" +
                InterleavedFrame(1, 28),
        };
        for (const std::string& step : steps) {
            if (!WaitFor(peer, "\r\n\r\n")) return;
            std::size_t sent = 0;
            peer.Send(step.data(), step.size(), sent);
        }
        // The client's answer to the server's request and its RTCP packet, then the peer closes.
        WaitFor(peer, "CSeq: 9\r\n\r\n");
        WaitFor(peer, "$\x01");
    }

    // Reads until `marker` arrived after what was already looked at.
    bool WaitFor(platform::TcpSocket& peer, const std::string& marker) {
        for (;;) {
            const std::size_t at = m_received.find(marker, m_looked);
            if (at != std::string::npos) {
                m_looked = at + marker.size();
                return true;
            }
            char chunk[1024];
            std::size_t received = 0;
            if (peer.Receive(chunk, sizeof chunk, received, 3000) != platform::SocketError::kNone) return false;
            m_received.append(chunk, received);
        }
    }

    platform::TcpListener m_listener;
    bool m_listening = false;
    std::thread m_thread;
    std::string m_received;
    std::size_t m_looked = 0;
};

TEST(RTSPClientInterleavedTest, MediaAnswersAndServerRequestsShareTheConnection) {
    const bool started = testing::kSocketsStarted;
    ASSERT_TRUE(started);
    InterleavedPeer peer;
    ASSERT_TRUE(peer.Listening());
    CBaseRTSPClient client;
    RTSPConnectSettings settings;
    settings.host = "127.0.0.1";
    settings.serverPort = peer.Port();
    settings.setupPath = "live";
    settings.playPath = "live";
    settings.interleaved = true;
    ASSERT_TRUE(client.Connect(settings));
    ASSERT_TRUE(client.Execute(RTSPMethod::kSetup));
    EXPECT_TRUE(client.GetResponse().interleavedNamed);
    ASSERT_TRUE(client.Execute(RTSPMethod::kPlay));
    EXPECT_EQ(client.GetResponse().statusCode, 200);

    RecordingSink sink;
    auto receiveUntil = [&](std::size_t frames) {
        for (int i = 0; i < 50 && sink.frames.size() < frames; ++i) client.ReceiveInterleaved(sink, 100);
    };
    receiveUntil(2);
    EXPECT_EQ(sink.frames, std::vector<std::string>({"F0:20", "F0:30"}));
    ASSERT_TRUE(client.Post(RTSPMethod::kOptions));
    receiveUntil(4);
    EXPECT_EQ(sink.frames, std::vector<std::string>({"F0:20", "F0:30", "F0:40", "F1:28"}));
    EXPECT_EQ(client.AnswersTaken(), 1u);
    const std::uint8_t report[8] = {0x81, 201, 0, 1, 1, 2, 3, 4};
    EXPECT_TRUE(client.SendInterleaved(1, report, sizeof report));
    InterleavedReceive last = InterleavedReceive::kIdle;
    for (int i = 0; i < 50 && last != InterleavedReceive::kClosed; ++i) last = client.ReceiveInterleaved(sink, 100);
    EXPECT_EQ(last, InterleavedReceive::kClosed);  // the peer closed
    EXPECT_EQ(sink.resyncs, 0);

    const std::string received = peer.Received();
    EXPECT_NE(received.find("Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), std::string::npos);
    EXPECT_NE(received.find("OPTIONS rtsp://127.0.0.1:"), std::string::npos);
    EXPECT_NE(received.find("$\x01\x00\x08\x81\xC9"), std::string::npos) << "the report as one frame";
    EXPECT_NE(received.find("RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
