// The HTTP transport of this platform (libcurl or WinHTTP) against a test server on 127.0.0.1.
#include "platform/http_transport.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/runtime_environment.h"
#include "support/test_http_server.h"

namespace kestrel::platform {
namespace {

using testing::Reply;
using testing::ReceivedRequest;
using testing::TestHttpServer;
using Clock = std::chrono::steady_clock;

HttpTransportSettings Settings(std::uint16_t port, std::uint32_t timeoutMs = 2000) {
    HttpTransportSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.timeoutMs = timeoutMs;
    settings.userAgent = "Kestrel::HttpClient";
    return settings;
}

HttpTransportRequest Get(const std::string& object) {
    HttpTransportRequest request;
    request.method = "GET";
    request.object = object;
    return request;
}

std::string ReadToEnd(HttpTransport& transport, std::size_t capacity, std::size_t& largestRead) {
    std::string body;
    std::vector<std::uint8_t> buffer(capacity);
    largestRead = 0;
    for (;;) {
        std::size_t got = 0;
        HttpReadStatus status = transport.Read(buffer.data(), buffer.size(), got);
        body.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        largestRead = std::max(largestRead, got);
        if (status != HttpReadStatus::kData) return status == HttpReadStatus::kEnd ? body : body + "<failed>";
    }
}

TEST(HttpTransportTest, SendsOnlyTheCallersHeadersInOrderOnOneKeptConnection) {
    TestHttpServer server([](const ReceivedRequest&) { return Reply::Http(200, "ok"); });
    HttpTransport transport(Settings(server.Port()));
    HttpTransportRequest post;
    post.method = "POST";
    post.object = "System.xml";  // no leading slash: both back ends add it
    post.headers = {"Content-Type: text/plain", "X-First: 1", "X-Second: 2"};
    post.body = {'a', '=', 'b'};
    ASSERT_TRUE(transport.Send(post));
    std::size_t largest = 0;
    EXPECT_EQ(ReadToEnd(transport, 64, largest), "ok");
    ASSERT_TRUE(transport.Send(Get("/DeviceBasicInfo.xml?version=1.0&action=get")));
    EXPECT_EQ(ReadToEnd(transport, 64, largest), "ok");

    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/System.xml");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].body, "a=b");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Kestrel::HttpClient");
    EXPECT_EQ(requests[0].Header("Content-Type"), "text/plain");
    EXPECT_EQ(requests[0].Header("Expect"), "");
    EXPECT_EQ(requests[0].Header("Accept"), "");
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "");  // nothing offered that was not asked for
    std::vector<std::string> ours;
    for (const std::string& name : requests[0].HeaderNames())
        if (name.rfind("X-", 0) == 0) ours.push_back(name);
    EXPECT_EQ(ours, (std::vector<std::string>{"X-First", "X-Second"}));
    EXPECT_EQ(requests[1].target, "/DeviceBasicInfo.xml?version=1.0&action=get");
    EXPECT_EQ(server.Connections(), 1);
}

TEST(HttpTransportTest, ResponseFieldsAndHeaders) {
    const std::string longValue(kHttpMaxHeaderValue + 1, 'x');
    TestHttpServer server([&](const ReceivedRequest&) {
        return Reply::Http(404, "", {"sessionID: abc123", "X-Long: " + longValue});
    });
    HttpTransport transport(Settings(server.Port()));
    EXPECT_EQ(transport.QueryHeader("sessionID"), "");  // nothing sent yet
    ASSERT_TRUE(transport.Send(Get("/missing")));
    std::uint32_t status = 0, length = 99;
    EXPECT_TRUE(transport.StatusCode(status));
    EXPECT_EQ(status, 404u);
    EXPECT_TRUE(transport.ContentLength(length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(transport.QueryHeader("SESSIONID"), "abc123");
    EXPECT_EQ(transport.QueryHeader("X-Absent"), "");
    EXPECT_EQ(transport.QueryHeader("X-Long"), "");
    transport.CloseRequest();
    EXPECT_EQ(transport.QueryHeader("sessionID"), "");
    EXPECT_FALSE(transport.StatusCode(status));
}

TEST(HttpTransportTest, IncompleteRequestsFailWithoutTraffic) {
    TestHttpServer server([](const ReceivedRequest&) { return Reply::Http(200, "ok"); });
    HttpTransport transport(Settings(server.Port()));
    EXPECT_FALSE(transport.Send(Get("")));
    HttpTransportRequest noMethod = Get("/x");
    noMethod.method.clear();
    EXPECT_FALSE(transport.Send(noMethod));
    EXPECT_FALSE(transport.HasOpenRequest());
    EXPECT_TRUE(server.Requests().empty());
}

TEST(HttpTransportTest, ReadsALargeBodyInPiecesNoLargerThanAsked) {
    std::string body;
    for (int i = 0; i < 300000; ++i) body += static_cast<char>('a' + i % 26);
    TestHttpServer server([&](const ReceivedRequest&) { return Reply::Http(200, body); });
    HttpTransport transport(Settings(server.Port()));
    ASSERT_TRUE(transport.Send(Get("/big")));
    std::size_t largest = 0;
    EXPECT_EQ(ReadToEnd(transport, 8192, largest), body);
    EXPECT_LE(largest, 8192u);
}

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void AppendLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// `data` as a gzip member (RFC 1952) of uncompressed deflate blocks (RFC 1951, 3.2.4).
std::string GzipStored(const std::string& data) {
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);  // magic, deflate, no flags, mtime 0
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min<std::size_t>(data.size() - offset, 0xFFFF);
        const bool last = offset + length == data.size();
        out += static_cast<char>(last ? 1 : 0);  // BFINAL, BTYPE 00
        AppendLittleEndian(out, static_cast<std::uint32_t>(length), 2);
        AppendLittleEndian(out, static_cast<std::uint32_t>(~length & 0xFFFF), 2);
        out.append(data, offset, length);
        offset += length;
    } while (offset < data.size());
    AppendLittleEndian(out, Crc32(data), 4);
    AppendLittleEndian(out, static_cast<std::uint32_t>(data.size()), 4);
    return out;
}

TEST(HttpTransportTest, DecodesAGzipBodyWhenTheRequestOfferedIt) {
    std::string body;
    for (int i = 0; i < 300000; ++i) body += static_cast<char>('a' + i % 26);
    TestHttpServer server([&](const ReceivedRequest& request) {
        if (request.Header("Accept-Encoding").find("gzip") == std::string::npos) return Reply::Http(200, body);
        return Reply::Http(200, GzipStored(body), {"Content-Encoding: gzip"});
    });
    HttpTransport transport(Settings(server.Port()));
    HttpTransportRequest request = Get("/compressed");
    request.headers = {"Accept-Encoding: gzip, deflate"};
    ASSERT_TRUE(transport.Send(request));
    std::size_t largest = 0;
    EXPECT_EQ(ReadToEnd(transport, 8192, largest), body);
    EXPECT_LE(largest, 8192u);
}

TEST(HttpTransportTest, ReadTimeOutMidBodyKeepsWhatArrived) {
    // Forty bytes of a longer body, then silence. Lengths past 32 bits must not wrap into
    // short ones: 2^32 + 8 read as 8 would end the body early or take body bytes for framing.
    struct Case {
        const char* name;
        const char* head;  // up to the first body byte
        bool lengthKnown;
        std::uint32_t contentLength;
    } cases[] = {
        {"Content-Length 100", "Content-Length: 100\r\n\r\n", true, 100},
        {"Content-Length 2^32 - 1", "Content-Length: 4294967295\r\n\r\n", true, 4294967295u},
        {"Content-Length 2^32 + 8", "Content-Length: 4294967304\r\n\r\n", false, 0},
        {"chunk of 2^32 - 1", "Transfer-Encoding: chunked\r\n\r\nffffffff\r\n", false, 0},
        {"chunk of 2^32 + 8", "Transfer-Encoding: chunked\r\n\r\n100000008\r\n", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (IsRunningUnderWine() && std::string(c.head).find("chunked") != std::string::npos) {
            // Not the product's fault, and Windows' own WinHTTP is not Wine's.
            std::printf("skipped '%s': Wine's WinHTTP reads chunk sizes into 32 bits (2^32 + 8 becomes 8)\n", c.name);
            continue;
        }
        TestHttpServer server([&](const ReceivedRequest&) {
            Reply reply = Reply::Silence();
            reply.bytes = std::string("HTTP/1.1 200 OK\r\n") + c.head + std::string(40, 'z');
            return reply;
        });
        HttpTransport transport(Settings(server.Port(), 300));
        ASSERT_TRUE(transport.Send(Get("/stall")));
        std::uint32_t length = 0;
        EXPECT_EQ(transport.ContentLength(length), c.lengthKnown);
        if (c.lengthKnown) {
            EXPECT_EQ(length, c.contentLength);
        }
        std::vector<std::uint8_t> buffer(8192);
        std::size_t got = 0, total = 0;
        HttpReadStatus status = HttpReadStatus::kData;
        auto start = Clock::now();
        while (status == HttpReadStatus::kData) {
            status = transport.Read(buffer.data(), buffer.size(), got);
            total += got;
        }
        EXPECT_EQ(status, HttpReadStatus::kTimedOut);
        EXPECT_EQ(total, 40u);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    }
}

TEST(HttpTransportTest, ARequestThatIsNeverAnsweredFailsAfterTheTimeOut) {
    TestHttpServer server([](const ReceivedRequest&) { return Reply::Silence(); });
    HttpTransport transport(Settings(server.Port(), 300));
    auto start = Clock::now();
    EXPECT_FALSE(transport.Send(Get("/hang")));
    EXPECT_FALSE(transport.HasOpenRequest());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

// The receive time-out restarts with every byte; the deadline does not. Head and body each end
// within the deadline however the camera keeps them coming (the whole trickle takes 9 s).
TEST(HttpTransportTest, TheDeadlineEndsAnExchangeWhateverTricklesIn) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n";
    struct Case {
        const char* name;
        std::string atOnce;
        std::string trickled;
    };
    const Case cases[] = {
        {"silence", "", ""},
        {"trickled head", "", head + std::string(60, 'z')},
        {"trickled body", head, std::string(60, 'z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Windows ends a blocking call on a handle closed at the deadline; Wine finishes it.
        if (IsRunningUnderWine() && c.atOnce.empty() && !c.trickled.empty()) continue;
        TestHttpServer server([&](const ReceivedRequest&) {
            Reply reply = Reply::Silence();
            reply.bytes = c.atOnce;
            reply.trickled = c.trickled.empty() ? "" : c.trickled.substr(0, 60);
            reply.trickleMs = 150;
            return reply;
        });
        HttpTransport transport(Settings(server.Port(), 5000));
        HttpTransportRequest request = Get("/trickle");
        request.deadlineMs = 1000;
        const auto start = Clock::now();
        if (transport.Send(request)) {
            std::vector<std::uint8_t> buffer(8192);
            std::size_t got = 0;
            HttpReadStatus status = HttpReadStatus::kData;
            while (status == HttpReadStatus::kData) status = transport.Read(buffer.data(), buffer.size(), got);
            EXPECT_EQ(status, HttpReadStatus::kFailed);
        }
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
        EXPECT_FALSE(transport.HasOpenRequest());
    }
}

TEST(HttpTransportTest, AbortEndsARequestThatIsNeverAnsweredUntilReset) {
    if (IsRunningUnderWine())
        GTEST_SKIP() << "Wine's WinHTTP does not cancel a blocking call when its request handle is closed";
    TestHttpServer server([](const ReceivedRequest& request) {
        return request.target == "/hang" ? Reply::Silence() : Reply::Http(200, "ok");
    });
    HttpTransport transport(Settings(server.Port(), 20000));
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        transport.Abort();
    });
    auto start = Clock::now();
    EXPECT_FALSE(transport.Send(Get("/hang")));
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(transport.Send(Get("/ok")));  // still aborted
    transport.ResetAbort();
    EXPECT_TRUE(transport.Send(Get("/ok")));
}

TEST(HttpTransportTest, FirstOfferedSchemeFollowsTheOrderOfTheChallenges) {
    struct Case {
        const char* name;
        std::vector<std::string> challenges;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"digest first", {"WWW-Authenticate: Digest realm=\"cam\", nonce=\"1\", qop=\"auth\"", "WWW-Authenticate: Basic realm=\"cam\""}, kHttpAuthDigest},
        {"basic first", {"WWW-Authenticate: Basic realm=\"cam\"", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"1\""}, kHttpAuthBasic},
        {"basic only", {"WWW-Authenticate: Basic realm=\"cam\""}, kHttpAuthBasic},
        {"no challenge", {}, kHttpAuthNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const ReceivedRequest&) { return Reply::Http(401, "", c.challenges); });
        HttpTransport transport(Settings(server.Port()));
        ASSERT_TRUE(transport.Send(Get("/private")));
        std::uint32_t status = 0;
        EXPECT_TRUE(transport.StatusCode(status));
        EXPECT_EQ(status, 401u);
        EXPECT_EQ(transport.FirstOfferedScheme(), c.expected);
    }
}

}  // namespace
}  // namespace kestrel::platform
