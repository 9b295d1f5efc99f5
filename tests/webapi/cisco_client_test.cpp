// CCiscoClient against a fake camera on 127.0.0.1: the requests as the camera sees them, and the
// client's answers to what the camera sends back.
#include "webapi/cisco_client.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "platform/runtime_environment.h"
#include "support/test_http_server.h"
#include "webapi/allocation_limit.h"

namespace kestrel {
namespace {

using testing::Reply;
using testing::ReceivedRequest;
using testing::TestHttpServer;

const std::string kOk = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";

// Answers per document (the target up to '?'); the login names session "S1" unless told otherwise.
class FakeCamera {
public:
    FakeCamera() : m_server([this](const ReceivedRequest& request) { return Answer(request); }) {}

    void Set(const std::string& document, Reply reply) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_replies[document] = std::move(reply);
    }
    DEVICE_INFO Device(std::uint32_t timeoutMs = 2000) const {
        DEVICE_INFO device;
        device.host = "127.0.0.1";
        device.port = m_server.Port();
        device.operationTimeout = timeoutMs;
        device.user = "admin";
        device.password = "secret";
        return device;
    }
    std::vector<ReceivedRequest> Requests() { return m_server.Requests(); }

private:
    Reply Answer(const ReceivedRequest& request) {
        std::string document = request.target.substr(0, request.target.find('?'));
        std::lock_guard<std::mutex> guard(m_lock);
        auto found = m_replies.find(document);
        if (found != m_replies.end()) return found->second;
        if (document == "/System.xml") return Reply::Http(200, kOk, {"sessionID: S1"});
        return Reply::Http(404, "");
    }

    std::mutex m_lock;
    std::map<std::string, Reply> m_replies;
    TestHttpServer m_server;
};

// The listed header lines, in the order the request carried them.
std::vector<std::string> HeaderLines(const ReceivedRequest& request, const std::vector<std::string>& names) {
    std::vector<std::string> lines;
    for (const auto& header : request.headers)
        for (const std::string& name : names)
            if (header.first == name) lines.push_back(header.first + ": " + header.second);
    return lines;
}

TEST(CCiscoClientTest, TheEightRequestsOnTheWire) {
    FakeCamera camera;
    camera.Set("/IOPortData.xml", Reply::Http(200, kOk));
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(camera.Device()));
    EXPECT_EQ(client.GetSessionId(), "S1");
    DEVICE_BASIC_INFO info;
    STREAMING_SETTING setting;
    IO_PORT_SETTING ports;
    IO_PORT_STATUS status;
    client.GetDeviceBasicInfo(info);
    client.GetStreamingSetting(setting);
    client.GetIOPortSetting(ports);
    client.GetIOPortStatus(status);
    STREAMING_SETTING written;
    written.version = "1.0";
    EXPECT_TRUE(client.SetStreamingSetting(written));
    EXPECT_TRUE(client.TriggerOutputPort(0, 1));
    client.Disconnect();

    const std::vector<std::string> names = {"Accept", "Content-Type", "Accept-Language", "Accept-Encoding",
                                            "sessionID", "version", "QueryString"};
    const std::string form = "Content-Type: application/x-www-form-urlencoded";
    struct Expected {
        const char* method;
        const char* target;
        std::vector<std::string> headers;
        std::string body;
    };
    const Expected expected[] = {
        {"POST", "/System.xml", {form}, "version=1.0&action=login&userName=admin&password=secret"},
        {"GET", "/DeviceBasicInfo.xml?version=1.0&action=get&sessionID=S1", {form}, ""},
        {"GET", "/StreamingSetting.xml?version=1.0&action=get&sessionID=S1", {form}, ""},
        {"GET", "/IOPortSetting.xml?version=1.0&action=get&sessionID=S1", {form}, ""},
        {"GET", "/IOPortStatus.xml?version=1.0&action=get&sessionID=S1", {form}, ""},
        {"POST",
         "/StreamingSetting.xml?version=1.0&sessionID=S1",
         {"Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
          "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*",
          "Content-Type: application/xml; charset=UTF-8", "Accept-Language: en-us", "Accept-Encoding: gzip, deflate",
          "sessionID: S1", "version: 1.0", "QueryString: action=set"},
         BuildStreamingSettingDocument(written)},
        {"POST",
         "/IOPortData.xml?version=1.0&sessionID=S1",
         {"Content-Type: application/xml", "Accept-Language: en-us", "Accept-Encoding: gzip, deflate",
          "sessionID: S1", "version: 1.0", "QueryString: action=triggerOutputPort"},
         BuildIOPortDataDocument(0, 1)},
        {"GET", "/System.xml?version=1.0&action=logout&sessionID=S1", {form}, ""},
    };
    std::vector<ReceivedRequest> requests = camera.Requests();
    ASSERT_EQ(requests.size(), std::size(expected));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(expected[i].target);
        EXPECT_EQ(requests[i].method, expected[i].method);
        EXPECT_EQ(requests[i].target, expected[i].target);
        std::vector<std::string> headers = expected[i].headers;
        // Compression is offered only where the answer can be decoded; Wine 8's WinHTTP cannot.
        if (platform::IsRunningUnderWine())
            headers.erase(std::remove(headers.begin(), headers.end(), "Accept-Encoding: gzip, deflate"), headers.end());
        EXPECT_EQ(HeaderLines(requests[i], names), headers);
        EXPECT_EQ(requests[i].body, expected[i].body);
        EXPECT_EQ(requests[i].Header("Content-Length"), expected[i].body.empty() && expected[i].method[0] == 'G'
                                                             ? ""
                                                             : std::to_string(expected[i].body.size()));
    }
}

TEST(CCiscoClientTest, ValuesThatNeedEscapingKeepTheirMeaning) {
    FakeCamera camera;
    camera.Set("/System.xml", Reply::Http(200, kOk, {"sessionID: a&b=c d"}));
    DEVICE_INFO device = camera.Device();
    device.user = "ad min";
    device.password = "p&ss=w+r%d";
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(device));
    EXPECT_EQ(client.GetSessionId(), "a&b=c d");
    DEVICE_BASIC_INFO info;
    client.GetDeviceBasicInfo(info);
    std::vector<ReceivedRequest> requests = camera.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "version=1.0&action=login&userName=ad%20min&password=p%26ss%3Dw%2Br%25d");
    EXPECT_EQ(requests[1].target, "/DeviceBasicInfo.xml?version=1.0&action=get&sessionID=a%26b%3Dc%20d");
}

TEST(CCiscoClientTest, LoginNeedsStatusOneAndASessionHeader) {
    struct Case {
        const char* name;
        Reply reply;
        bool connected;
        const char* session;
    };
    const Case cases[] = {
        {"accepted", Reply::Http(200, kOk, {"sessionID: S9"}), true, "S9"},
        {"no session header", Reply::Http(200, kOk), false, ""},
        {"refused by status code", Reply::Http(200, "<ResponseStatus><statusCode>0</statusCode></ResponseStatus>",
                                                {"sessionID: S9"}),
         false, "S9"},
        {"401 without a challenge: no answer", Reply::Http(401, kOk, {"sessionID: S9"}), false, ""},
        {"empty body", Reply::Http(200, "", {"sessionID: S9"}), false, "S9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCamera camera;
        camera.Set("/System.xml", c.reply);
        CCiscoClient client;
        EXPECT_EQ(client.Connect(camera.Device()), c.connected);
        // The header is taken whatever the status; a failed login keeps it.
        EXPECT_EQ(client.GetSessionId(), c.session);
    }
    // A failed login keeps its sender: later requests go out with the session it left.
    FakeCamera camera;
    camera.Set("/System.xml", Reply::Http(200, kOk));
    CCiscoClient client;
    EXPECT_FALSE(client.Connect(camera.Device()));
    DEVICE_BASIC_INFO info;
    client.GetDeviceBasicInfo(info);
    std::vector<ReceivedRequest> requests = camera.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/DeviceBasicInfo.xml?version=1.0&action=get&sessionID=");
}

TEST(CCiscoClientTest, ALoginRefusedForADigestAlgorithmThePlatformLacksNamesIt) {
    FakeCamera camera;
    camera.Set("/System.xml", Reply::Http(401, "", {"WWW-Authenticate: Digest realm=\"cam\", nonce=\"1\", "
                                                    "qop=\"auth\", algorithm=SHA-384"}));
    CCiscoClient client;
    EXPECT_EQ(client.GetUnansweredDigestAlgorithm(), "");  // no sender yet
    EXPECT_FALSE(client.Connect(camera.Device()));
    EXPECT_EQ(client.GetUnansweredDigestAlgorithm(), "SHA-384");
    camera.Set("/System.xml", Reply::Http(200, kOk, {"sessionID: S2"}));
    EXPECT_TRUE(client.Connect(camera.Device()));
    EXPECT_EQ(client.GetUnansweredDigestAlgorithm(), "");
}

TEST(CCiscoClientTest, ReadsFailOnErrorStatusOrEmptyBodyWhileSetStreamingCountsAnyAnswer) {
    FakeCamera camera;
    camera.Set("/DeviceBasicInfo.xml", Reply::Http(404, "<DeviceInfo/>"));
    camera.Set("/IOPortStatus.xml", Reply::Http(200, ""));
    camera.Set("/IOPortSetting.xml", Reply::Http(500, "<DeviceInfo/>"));
    camera.Set("/StreamingSetting.xml", Reply::Http(500, ""));
    camera.Set("/IOPortData.xml", Reply::Http(200, "<ResponseStatus><statusCode>2</statusCode></ResponseStatus>"));
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(camera.Device()));
    DEVICE_BASIC_INFO info;
    IO_PORT_STATUS status;
    IO_PORT_SETTING ports;
    STREAMING_SETTING setting;
    EXPECT_FALSE(client.GetDeviceBasicInfo(info));
    EXPECT_FALSE(client.GetIOPortStatus(status));
    EXPECT_FALSE(client.GetIOPortSetting(ports));
    EXPECT_FALSE(client.GetStreamingSetting(setting));
    EXPECT_TRUE(client.SetStreamingSetting(setting));
    EXPECT_FALSE(client.TriggerOutputPort(0, 1));
    std::size_t before = camera.Requests().size();
    EXPECT_FALSE(client.TriggerOutputPort(3, 0));  // nothing to send
    EXPECT_EQ(camera.Requests().size(), before);
}

TEST(CCiscoClientTest, NothingIsSentBeforeConnectAndTheSessionOutlivesDisconnect) {
    FakeCamera camera;
    CCiscoClient client;
    DEVICE_BASIC_INFO info;
    STREAMING_SETTING setting;
    IO_PORT_STATUS status;
    EXPECT_FALSE(client.GetDeviceBasicInfo(info));
    EXPECT_FALSE(client.SetStreamingSetting(setting));
    EXPECT_FALSE(client.GetIOPortStatus(status));
    EXPECT_FALSE(client.TriggerOutputPort(0, 1));
    client.Disconnect();
    EXPECT_TRUE(camera.Requests().empty());

    ASSERT_TRUE(client.Connect(camera.Device()));
    client.Disconnect();
    EXPECT_EQ(client.GetSessionId(), "S1");
    std::size_t sent = camera.Requests().size();
    EXPECT_FALSE(client.GetDeviceBasicInfo(info));
    EXPECT_EQ(camera.Requests().size(), sent);
}

TEST(CCiscoClientTest, AbortEndsALoginThatTheCameraNeverAnswers) {
    if (platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's WinHTTP does not cancel a blocking call when its request handle is closed";
    FakeCamera camera;
    camera.Set("/System.xml", Reply::Silence());
    CCiscoClient client;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        client.Abort();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Connect(camera.Device(30000)));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // Still aborted: a new connect fails at once instead of waiting for the camera.
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Connect(camera.Device(30000)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// The answer's head at once, the rest (or all of it) a byte every 100 ms: 9 s or more in all.
Reply Trickled(const std::string& atOnce, const std::string& rest) {
    Reply reply;
    reply.bytes = atOnce;
    reply.trickled = rest;
    reply.trickleMs = 100;
    reply.close = true;
    return reply;
}

// The receive time-out restarts with every byte: only a deadline per request bounds a camera
// that trickles, and the logout of a stopping owner gets a short one.
TEST(CCiscoClientTest, RequestsEndWithinTheirTimeOutWhileTheCameraTrickles) {
    const std::string body = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>" + std::string(30, ' ');
    const std::string head = "HTTP/1.1 200 OK\r\nsessionID: S1\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n";
    // Windows ends a blocking call on a handle closed at the deadline; Wine finishes it.
    if (!platform::IsRunningUnderWine()) {
        SCOPED_TRACE("login trickled whole");
        FakeCamera camera;
        camera.Set("/System.xml", Trickled("", head + body));
        CCiscoClient client;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(client.Connect(camera.Device(1000)));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    }
    {
        SCOPED_TRACE("settings body trickled");
        FakeCamera camera;
        camera.Set("/StreamingSetting.xml", Trickled(head, body));
        CCiscoClient client;
        ASSERT_TRUE(client.Connect(camera.Device(1000)));
        STREAMING_SETTING setting;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(client.GetStreamingSetting(setting));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    }
    {
        SCOPED_TRACE("logout never answered");
        FakeCamera camera;
        CCiscoClient client;
        ASSERT_TRUE(client.Connect(camera.Device(5000)));
        camera.Set("/System.xml", Reply::Silence());
        const auto start = std::chrono::steady_clock::now();
        client.Disconnect();
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(CCiscoClient::kLogoutDeadlineMs + 1000));
    }
}

// A well-formed device information answer of exactly `size` bytes, padded inside a comment.
std::string DeviceInfoOfSize(std::size_t size) {
    const std::string head = "<DeviceInfo><DeviceBasicInfo><model>M</model></DeviceBasicInfo><!--";
    const std::string tail = "--></DeviceInfo>";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST(CCiscoClientTest, AnswersOverTheClientsCapFail) {
    struct Case {
        const char* name;
        std::size_t size;
        bool read;
    };
    const Case cases[] = {
        {"at the cap", CCiscoClient::kMaxAnswerSize, true},
        {"one byte over", CCiscoClient::kMaxAnswerSize + 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCamera camera;
        camera.Set("/DeviceBasicInfo.xml", Reply::Http(200, DeviceInfoOfSize(c.size)));
        CCiscoClient client;
        ASSERT_TRUE(client.Connect(camera.Device()));
        DEVICE_BASIC_INFO info;
        EXPECT_EQ(client.GetDeviceBasicInfo(info), c.read);
        EXPECT_EQ(info.model, c.read ? "M" : "");
    }
}

// A settings answer with `entries` empty stream entries, padded with a comment to `size` bytes.
std::string SettingsWithEntries(std::size_t entries, std::size_t size = 0) {
    std::string text = "<DeviceInfo><StreamingSetting><StreamingChannelList>";
    for (std::size_t i = 0; i < entries; ++i) text += "<StreamingChannelEntry/>";
    text += "</StreamingChannelList></StreamingSetting>";
    if (size > text.size() + 20) text += "<!--" + std::string(size - text.size() - 20, 'x') + "-->";
    return text + "</DeviceInfo>";
}

TEST(CCiscoClientTest, SettingsAnswersWithMoreStreamsThanACameraHasFailWithTheirReason) {
    using Problem = CCiscoClient::AnswerProblem;
    struct Case {
        const char* name;
        std::string answer;
        std::size_t streams;  // read; 0 when the read fails
        Problem problem;
    };
    const std::size_t cap = CCiscoClient::kMaxStreamingChannels;
    const Case cases[] = {
        {"at the stream cap", SettingsWithEntries(cap), cap, Problem::kNone},
        {"one stream over", SettingsWithEntries(cap + 1), 0, Problem::kTooManyStreams},
        {"a small answer of empty entries", SettingsWithEntries(20000), 0, Problem::kTooManyStreams},
        {"over the size cap", SettingsWithEntries(1, CCiscoClient::kMaxAnswerSize + 1), 0, Problem::kTooLarge},
    };
    FakeCamera camera;
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(camera.Device()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        camera.Set("/StreamingSetting.xml", Reply::Http(200, c.answer));
        STREAMING_SETTING setting;
        EXPECT_EQ(client.GetStreamingSetting(setting), c.streams != 0);
        EXPECT_EQ(setting.channels.size(), c.streams);
        EXPECT_EQ(client.GetLastAnswerProblem(), c.problem);
    }
}

TEST(CCiscoClientTest, RunningOutOfMemoryFailsTheOperationAndNothingThrows) {
    FakeCamera camera;
    const std::string big = DeviceInfoOfSize(1024 * 1024);
    camera.Set("/DeviceBasicInfo.xml", Reply::Http(200, big));
    camera.Set("/StreamingSetting.xml", Reply::Http(200, big));
    camera.Set("/IOPortSetting.xml", Reply::Http(200, big));
    camera.Set("/IOPortStatus.xml", Reply::Http(200, big));
    camera.Set("/IOPortData.xml", Reply::Http(200, big));
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(camera.Device()));
    const std::pair<const char*, std::function<bool()>> operations[] = {
        {"device info", [&] { DEVICE_BASIC_INFO r; return client.GetDeviceBasicInfo(r); }},
        {"streaming", [&] { STREAMING_SETTING r; return client.GetStreamingSetting(r); }},
        {"port setting", [&] { IO_PORT_SETTING r; return client.GetIOPortSetting(r); }},
        {"port status", [&] { IO_PORT_STATUS r; return client.GetIOPortStatus(r); }},
        {"trigger", [&] { return client.TriggerOutputPort(0, 1); }},
    };
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.first);
        testing::ScopedAllocationLimit limit(256 * 1024);
        bool result = true;
        EXPECT_NO_THROW(result = operation.second());
        EXPECT_FALSE(result);
    }
    // Memory back, the same client works again.
    camera.Set("/DeviceBasicInfo.xml", Reply::Http(200, DeviceInfoOfSize(1024)));
    DEVICE_BASIC_INFO info;
    EXPECT_TRUE(client.GetDeviceBasicInfo(info));
    EXPECT_EQ(info.model, "M");
}

// kOk compressed with gzip (RFC 1952), as a camera sends it when offered "Accept-Encoding: gzip".
const unsigned char kOkGzip[] = {
    0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03,  // magic, deflate, no flags, mtime 0, XFL, OS
    0xb3, 0x09, 0x4a, 0x2d, 0x2e, 0xc8, 0xcf, 0x2b, 0x4e, 0x0d, 0x2e, 0x49, 0x2c, 0x29, 0x2d, 0xb6,  // deflate data
    0xb3, 0x29, 0x06, 0xd3, 0xce, 0xf9, 0x29, 0xa9, 0x76, 0x86, 0x36, 0xfa, 0x48, 0x3c, 0x1b, 0x7d,
    0x34, 0xa5, 0x00,
    0x49, 0x4f, 0x2b, 0x76,  // CRC-32
    0x3b, 0x00, 0x00, 0x00,  // uncompressed size 59
};

TEST(CCiscoClientTest, TriggerReadsAnAnswerCompressedAsItsRequestOffered) {
    TestHttpServer camera([](const ReceivedRequest& request) {
        if (request.target == "/System.xml") return Reply::Http(200, kOk, {"sessionID: S1"});
        // Compressed only when the request offered it, as a camera does: a platform that cannot
        // decode must not offer.
        if (request.Header("Accept-Encoding").find("gzip") == std::string::npos) return Reply::Http(200, kOk);
        return Reply::Http(200, std::string(std::begin(kOkGzip), std::end(kOkGzip)), {"Content-Encoding: gzip"});
    });
    DEVICE_INFO device;
    device.host = "127.0.0.1";
    device.port = camera.Port();
    device.operationTimeout = 2000;
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(device));
    EXPECT_TRUE(client.TriggerOutputPort(0, 1));
    EXPECT_TRUE(client.TriggerOutputPort(1, 2));
}

}  // namespace
}  // namespace kestrel
