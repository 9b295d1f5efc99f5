// Web::CHttpSender: the authentication negotiation and the body rules, against a scripted server
// and against lighttpd with real Basic and Digest authentication.
#include "webapi/http_sender.h"

#include <gtest/gtest.h>

#include "platform/runtime_environment.h"
#include "support/lighttpd_server.h"
#include "support/test_http_server.h"

namespace Web {
namespace {

using kestrel::testing::LighttpdServer;
using kestrel::testing::Reply;
using kestrel::testing::ReceivedRequest;
using kestrel::testing::TestHttpServer;
namespace platform = kestrel::platform;

kestrel::DEVICE_INFO Device(std::uint16_t port, const std::string& password = "secret", std::uint32_t timeoutMs = 2000) {
    kestrel::DEVICE_INFO device;
    device.host = "127.0.0.1";
    device.port = port;
    device.operationTimeout = timeoutMs;
    device.user = "admin";
    device.password = password;
    return device;
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(CHttpSenderTest, ErrorStatusesAreReceivedResponses) {
    for (int status : {404, 500}) {
        TestHttpServer server([&](const ReceivedRequest&) { return Reply::Http(status, "oops"); });
        CHttpSender sender(Device(server.Port()));
        ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
        EXPECT_EQ(sender.StatusCode(), static_cast<std::uint32_t>(status));
        std::vector<std::uint8_t> body;
        EXPECT_EQ(sender.ReadAll(body), 4u);
        EXPECT_EQ(Text(body), "oops");
    }
}

TEST(CHttpSenderTest, ABasicChallengeAfterBasicFailsAtOnceAndIsKept) {
    TestHttpServer server([](const ReceivedRequest&) {
        return Reply::Http(401, "", {"WWW-Authenticate: Basic realm=\"camera\""});
    });
    CHttpSender sender(Device(server.Port()));
    EXPECT_FALSE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
    EXPECT_EQ(server.Requests().size(), 1u);  // no second attempt under the same scheme
    EXPECT_EQ(sender.NegotiatedScheme(), platform::kHttpAuthBasic);
    EXPECT_EQ(sender.QueryHeader("WWW-Authenticate"), "");  // the request was closed
    // Negotiated now: the next 401 comes back as a response.
    EXPECT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
    EXPECT_EQ(sender.StatusCode(), 401u);
    EXPECT_EQ(server.Requests()[0].Header("Authorization").rfind("Basic ", 0), 0u);
}

TEST(CHttpSenderTest, WithoutAUserNoCredentialsAreSent) {
    TestHttpServer server([](const ReceivedRequest&) {
        return Reply::Http(401, "", {"WWW-Authenticate: Digest realm=\"camera\", nonce=\"abc\", qop=\"auth\""});
    });
    kestrel::DEVICE_INFO device = Device(server.Port());
    device.user.clear();
    CHttpSender sender(device);
    EXPECT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
    EXPECT_EQ(sender.StatusCode(), 401u);
    EXPECT_EQ(sender.NegotiatedScheme(), platform::kHttpAuthDigest);
    for (const ReceivedRequest& request : server.Requests()) EXPECT_EQ(request.Header("Authorization"), "");
}

TEST(CHttpSenderTest, WhatWouldBreakAHeaderLineIsRefusedWithoutTraffic) {
    struct Case {
        const char* name;
        std::string user;
        std::string password;
        std::string headerLine;
    };
    const Case cases[] = {
        {"line break in the user", "admin\r\nX-Injected: 1", "secret", "Accept: */*"},
        {"line feed in the Basic password", "admin", "sec\nret", "Accept: */*"},
        {"NUL in the user", std::string("ad\0min", 6), "secret", "Accept: */*"},
        {"colon in the Basic user", "ad:min", "secret", "Accept: */*"},
        {"line break in a header line", "admin", "secret", "sessionID: S1\r\nX-Injected: 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([](const ReceivedRequest&) { return Reply::Http(200, "ok"); });
        kestrel::DEVICE_INFO device = Device(server.Port());
        device.user = c.user;
        device.password = c.password;
        CHttpSender sender(device);
        HTTP_REQUEST request("GET", "/x");
        request.headers = {c.headerLine};
        EXPECT_FALSE(sender.SendRequest(request));
        EXPECT_EQ(server.Connections(), 0);
    }
}

TEST(CHttpSenderTest, ABodyOverTheLimitIsAFailureNotATruncatedDocument) {
    const std::string body(5000, 'x');
    TestHttpServer server([&](const ReceivedRequest& request) {
        if (request.target == "/declared") return Reply::Http(200, body);
        // A length at the 32-bit limit, refused before anything is read.
        if (request.target == "/largest")
            return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n" + body, false, true};
        // Without a length: the body ends when the connection closes.
        return Reply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, false, true};
    });
    CHttpSender sender(Device(server.Port()));
    sender.SetMaxBodySize(4096);
    std::vector<std::uint8_t> out{1, 2, 3};
    for (const char* object : {"/declared", "/largest", "/undeclared"}) {
        SCOPED_TRACE(object);
        ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", object)));
        EXPECT_EQ(sender.ReadAll(out), 0u);
        EXPECT_TRUE(out.empty());
    }
    sender.SetMaxBodySize(5000);  // exactly at the limit is fine
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/declared")));
    EXPECT_EQ(sender.ReadAll(out), 5000u);
}

TEST(CHttpSenderTest, ReadAllKeepsWhatArrivedBeforeATimeOut) {
    TestHttpServer server([](const ReceivedRequest&) {
        Reply reply = Reply::Silence();
        reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<DeviceInfo>";
        return reply;
    });
    CHttpSender sender(Device(server.Port(), "secret", 300));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/x")));
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadAll(body), 12u);
    EXPECT_EQ(Text(body), "<DeviceInfo>");
}

TEST(CHttpSenderTest, ReadChunkPullsAtMostAChunkAtATime) {
    std::string body;
    for (int i = 0; i < 100000; ++i) body += static_cast<char>('0' + i % 10);
    TestHttpServer server([&](const ReceivedRequest&) { return Reply::Http(200, body); });
    CHttpSender sender(Device(server.Port()));
    std::vector<std::uint8_t> chunk;
    EXPECT_EQ(sender.ReadChunk(chunk), 0u);  // no request yet
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/img/video.mjpeg")));
    std::string received;
    while (sender.ReadChunk(chunk) > 0) {
        EXPECT_LE(chunk.size(), CHttpSender::kChunkSize);
        received += Text(chunk);
    }
    EXPECT_EQ(received, body);
}

TEST(CHttpSenderTest, DigestAlgorithmsThePlatformLacksFailWithTheirName) {
    // Hardened cameras ask for SHA-256, which WinHTTP lacks and libcurl has.
    const std::string sha256 = platform::HttpStackAnswersDigest("SHA-256") ? "" : "SHA-256";
    const std::string digest = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"1\", qop=\"auth\", algorithm=";
    struct Case {
        const char* comment;
        std::vector<std::string> challenges;
        std::string unanswered;
    };
    const Case cases[] = {
        {"an algorithm no stack has", {digest + "SHA-384"}, "SHA-384"},
        {"two it lacks: the first is named", {digest + "SHA-384", digest + "SHA3-256"}, "SHA-384"},
        {"beside MD5", {digest + "SHA-384", digest + "MD5"}, ""},
        {"beside Basic", {digest + "SHA-384", "WWW-Authenticate: Basic realm=\"cam\""}, ""},
        {"MD5 only", {digest + "MD5"}, ""},
        {"SHA-256 only", {digest + "SHA-256"}, sha256},
    };
    for (const Case& c : cases) {
        TestHttpServer server([&](const ReceivedRequest&) { return Reply::Http(401, "", c.challenges); });
        CHttpSender sender(Device(server.Port()));
        bool sent = sender.SendRequest(HTTP_REQUEST("GET", "/x"));
        EXPECT_EQ(sender.UnansweredDigestAlgorithm(), c.unanswered) << c.comment;
        if (c.unanswered.empty()) continue;
        EXPECT_FALSE(sent) << c.comment;
        EXPECT_EQ(server.Requests().size(), 1u) << c.comment;  // nothing to retry with
        EXPECT_EQ(sender.NegotiatedScheme(), 0u) << c.comment;
    }
}

class CHttpSenderLighttpdTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_server.Installed()) GTEST_SKIP() << m_server.Problem();
        ASSERT_EQ(m_server.Problem(), "");
    }
    LighttpdServer m_server;
};

TEST_F(CHttpSenderLighttpdTest, BasicIsTriedFirst) {
    CHttpSender sender(Device(m_server.Port(), LighttpdServer::kPassword));
    ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/basic/doc.xml")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.NegotiatedScheme(), 0u);
    std::vector<std::uint8_t> body;
    sender.ReadAll(body);
    EXPECT_EQ(Text(body), LighttpdServer::kDocument);
}

TEST_F(CHttpSenderLighttpdTest, DigestIsNegotiatedOnceAndKept) {
    if (platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's WinHTTP offers Digest but never completes it: every retry gets 401 again";
    CHttpSender sender(Device(m_server.Port(), LighttpdServer::kPassword));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", "/digest/doc.xml")));
        EXPECT_EQ(sender.StatusCode(), 200u);
        EXPECT_EQ(sender.NegotiatedScheme(), platform::kHttpAuthDigest);
        std::vector<std::uint8_t> body;
        sender.ReadAll(body);
        EXPECT_EQ(Text(body), LighttpdServer::kDocument);
    }
}

TEST_F(CHttpSenderLighttpdTest, Sha256DigestIsAnsweredByTheHttpStack) {
    if (!platform::HttpStackAnswersDigest("SHA-256"))
        GTEST_SKIP() << "WinHTTP has MD5 Digest only; a SHA-256 camera fails with UnansweredDigestAlgorithm() "
                        "\"SHA-256\" (DigestAlgorithmsThePlatformLacksFailWithTheirName)";
    for (const char* object : {"/sha256/doc.xml", "/both/doc.xml"}) {
        SCOPED_TRACE(object);
        CHttpSender sender(Device(m_server.Port(), LighttpdServer::kPassword));
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(sender.SendRequest(HTTP_REQUEST("GET", object)));
            EXPECT_EQ(sender.StatusCode(), 200u);
            EXPECT_EQ(sender.NegotiatedScheme(), platform::kHttpAuthDigest);
            std::vector<std::uint8_t> body;
            sender.ReadAll(body);
            EXPECT_EQ(Text(body), LighttpdServer::kDocument);
        }
        CHttpSender wrong(Device(m_server.Port(), "wrong"));
        EXPECT_TRUE(wrong.SendRequest(HTTP_REQUEST("GET", object)));
        EXPECT_EQ(wrong.StatusCode(), 401u);
    }
}

TEST_F(CHttpSenderLighttpdTest, AWrongPasswordComesBackAsAReceived401) {
    for (const char* object : {"/basic/doc.xml", "/digest/doc.xml"}) {
        SCOPED_TRACE(object);
        CHttpSender sender(Device(m_server.Port(), "wrong"));
        bool sent = sender.SendRequest(HTTP_REQUEST("GET", object));
        if (std::string(object) == "/basic/doc.xml") {
            // The server asks for Basic again: nothing new to try on the first request.
            EXPECT_FALSE(sent);
            EXPECT_EQ(sender.NegotiatedScheme(), platform::kHttpAuthBasic);
            sent = sender.SendRequest(HTTP_REQUEST("GET", object));
        } else {
            EXPECT_EQ(sender.NegotiatedScheme(), platform::kHttpAuthDigest);
        }
        EXPECT_TRUE(sent);
        EXPECT_EQ(sender.StatusCode(), 401u);
    }
}

}  // namespace
}  // namespace Web
