#include <chrono>
#include <thread>

#include "tools/camsim_fixture.h"
#include "camsim/auth.h"
#include "camsim/net.h"
#include "rtsp/md5.h"
#include "rtsp/sha256.h"

namespace camsim {
namespace {

using kestrel::CCiscoClient;
using kestrel::RTSPMethod;

TEST_F(CamsimTest, LoginChecksTheAccountAndNamesASession) {
    StartCamera();
    CCiscoClient client;
    EXPECT_FALSE(client.Connect(Device("wrong")));
    EXPECT_TRUE(client.Connect(Device()));
    EXPECT_FALSE(client.GetSessionId().empty());
    EXPECT_TRUE(camera->Api().IsSession(client.GetSessionId()));
}

TEST_F(CamsimTest, EndedOrUnknownSessionGetsAnErrorStatus) {
    StartCamera();
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(Device()));
    const std::string ended = client.GetSessionId();
    client.Disconnect();
    EXPECT_FALSE(camera->Api().IsSession(ended));
    HttpRequest request;
    request.method = "GET";
    request.document = "DeviceBasicInfo.xml";
    for (const std::string& session : {ended, std::string("nosuchsession"), std::string()}) {
        request.query = "version=1.0&action=get&sessionID=" + session;
        HttpResponse response = camera->Api().Handle(request);
        EXPECT_EQ(response.status, 200);
        EXPECT_NE(response.body.find("<statusCode>2</statusCode>"), std::string::npos) << session;
        EXPECT_EQ(response.body.find("<model>"), std::string::npos);
    }
}

TEST_F(CamsimTest, IdentityFollowsTheConfiguredModelAndStandard) {
    struct Case {
        const char* model;
        const char* standard;
    } cases[] = {
        {"CIVS-IPC-2500", "2"},  // series 1, PAL
        {"CIVS-IPC-4500", "1"},  // series 2, NTSC
        {"CIVS-IPC", "3"},       // no digits, an unknown standard
    };
    for (const Case& c : cases) {
        CameraConfig config;
        config.model = c.model;
        config.streams[0].videoStandardType = c.standard;
        StartCamera(config);
        CCiscoClient client;
        ASSERT_TRUE(client.Connect(Device()));
        kestrel::DEVICE_BASIC_INFO info;
        ASSERT_TRUE(client.GetDeviceBasicInfo(info));
        EXPECT_EQ(info.model, c.model);
        kestrel::STREAMING_SETTING setting;
        ASSERT_TRUE(client.GetStreamingSetting(setting));
        ASSERT_EQ(setting.channels.size(), 2u);
        EXPECT_EQ(setting.channels[0].video.videoStandardType, c.standard);
        EXPECT_EQ(setting.channels[0].transport.rtspPortNo, std::to_string(camera->RtspPort()));
        client.Disconnect();
        camera->Stop();
    }
}

TEST_F(CamsimTest, WrittenStreamingSettingsBecomeTheCameraState) {
    StartCamera();
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(Device()));
    kestrel::STREAMING_SETTING setting;
    ASSERT_TRUE(client.GetStreamingSetting(setting));
    setting.channels[0].channelName = "Front door";
    setting.channels[0].video.videoCodecType = kCodecMpeg4;
    setting.channels[0].video.maxFrameRate = "10";
    setting.channels[0].video.videoResolutionWidth = "352";
    setting.channels[1].enabled = "0";
    ASSERT_TRUE(client.SetStreamingSetting(setting));

    kestrel::STREAMING_SETTING again;
    ASSERT_TRUE(client.GetStreamingSetting(again));
    EXPECT_EQ(again.channels[0].channelName, "Front door");
    EXPECT_EQ(again.channels[0].video.videoCodecType, kCodecMpeg4);
    EXPECT_EQ(again.channels[0].video.maxFrameRate, "10");
    EXPECT_EQ(again.channels[0].video.videoResolutionWidth, "352");
    EXPECT_EQ(again.channels[1].enabled, "0");
    std::optional<StreamProfile> profile = camera->Settings().Find("1", "Front door");
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->frameRate, 10u);
}

TEST_F(CamsimTest, WrittenRtspPortMovesTheRtspServer) {
    StartCamera();
    Listener probe;
    ASSERT_TRUE(probe.Listen(0));
    const std::uint16_t port = probe.Port();
    probe.Close();
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(Device()));
    kestrel::STREAMING_SETTING setting;
    ASSERT_TRUE(client.GetStreamingSetting(setting));
    for (auto& channel : setting.channels) channel.transport.rtspPortNo = std::to_string(port);
    ASSERT_TRUE(client.SetStreamingSetting(setting));
    EXPECT_EQ(camera->RtspPort(), port);
}

TEST(CamsimStartTest, PortInUseIsNamedWithTheSystemsReason) {
    Listener taken;
    ASSERT_TRUE(taken.Listen(0));
    CameraConfig config;
    config.webPort = taken.Port();
    CameraSimulator camera(config);
    std::string failure;
    EXPECT_FALSE(camera.Start(&failure));
    EXPECT_EQ(failure, "cannot listen on 127.0.0.1:" + std::to_string(taken.Port()) + " for web: Address already in use");
}

TEST_F(CamsimTest, InputsAndOutputsAsTheDriverReadsAndWritesThem) {
    CameraConfig config;
    config.inputCount = 3;
    config.outputCount = 2;
    StartCamera(config);
    CCiscoClient client;
    ASSERT_TRUE(client.Connect(Device()));
    kestrel::IO_PORT_SETTING ports;
    ASSERT_TRUE(client.GetIOPortSetting(ports));
    EXPECT_EQ(ports.inputs.size(), 3u);
    EXPECT_EQ(ports.outputs.size(), 2u);

    EXPECT_EQ(camera->Execute("input 2 2"), "OK");
    EXPECT_EQ(camera->Execute("input 4 2").substr(0, 3), "ERR");
    kestrel::IO_PORT_STATUS status;
    ASSERT_TRUE(client.GetIOPortStatus(status));
    EXPECT_EQ(status.inputStates, (std::vector<std::uint32_t>{1, 2, 1}));

    EXPECT_TRUE(client.TriggerOutputPort(1, 2));   // the second port
    EXPECT_FALSE(client.TriggerOutputPort(5, 2));  // no such port: error status
    EXPECT_EQ(camera->Execute("triggers"), "OK 2:2");
    EXPECT_EQ(camera->Execute("outputs"), "OK 1 2");

    ASSERT_EQ(camera->Execute("input-count 5"), "OK");
    kestrel::IO_PORT_STATUS faulty;
    ASSERT_TRUE(client.GetIOPortStatus(faulty));
    EXPECT_EQ(faulty.inputStates.size(), 5u);
}

TEST_F(CamsimTest, InputsChangeOnTheirSchedule) {
    IoPorts ports(2, 0, 50);
    EXPECT_EQ(ports.Inputs(), (std::vector<unsigned>{kIoInactive, kIoInactive}));
    std::this_thread::sleep_for(std::chrono::milliseconds(75));
    EXPECT_EQ(ports.Inputs(), (std::vector<unsigned>{kIoActive, kIoActive}));
}

TEST_F(CamsimTest, FixedHttpStatusFailsTheLogin) {
    StartCamera();
    ASSERT_EQ(camera->Execute("status http login 500"), "OK");
    CCiscoClient client;
    EXPECT_FALSE(client.Connect(Device()));
    ASSERT_EQ(camera->Execute("clear"), "OK");
    EXPECT_TRUE(client.Connect(Device()));
}

TEST_F(CamsimTest, DescribeChecksTheWebSessionAndTheChannel) {
    StartCamera();
    CCiscoClient web;
    ASSERT_TRUE(web.Connect(Device()));
    const std::string session = web.GetSessionId();
    struct Case {
        std::string path;
        bool accepted;
    } cases[] = {
        {DescribePath(session, 1, "Channel1"), true},
        {DescribePath(session, 2, "Channel2"), true},
        {DescribePath("deadbeef", 1, "Channel1"), false},  // no such web session
        {DescribePath(session, 1, "Channel2"), false},     // name of another channel
        {DescribePath(session, 7, "Channel7"), false},     // no such channel
        {"ChannelID=1&ChannelName=Channel1", false},       // not the stream path
    };
    for (const Case& c : cases) {
        kestrel::CBaseRTSPClient rtsp;
        kestrel::RTSPConnectSettings settings = RtspSettings(session);
        settings.describePath = c.path;
        ASSERT_TRUE(rtsp.Connect(settings));
        bool parsed = rtsp.Execute(RTSPMethod::kDescribe);
        EXPECT_EQ(parsed && rtsp.GetResponse().statusCode == 200, c.accepted) << c.path;
        if (c.accepted) {
            EXPECT_EQ(rtsp.GetResponse().videoControl, "trackID=1");
        }
    }
}

// The driver's client under each authentication, and nonces that expire mid-session, run
// against the simulator in tests/rtsp/rtsp_camsim_test.cpp (natively and under wine64).

TEST_F(CamsimTest, DigestChecksRejectForgedReplayedAndExpiredAnswers) {
    struct Case {
        const char* algorithm;
        std::string (*hash)(std::string_view);
    };
    for (const Case& algorithm : {Case{"MD5", kestrel::Md5Hex}, Case{"SHA-256", kestrel::Sha256Hex}}) {
        AuthSettings settings{AuthScheme::kDigestQop, {algorithm.algorithm}, 200};
        Authenticator auth(settings, "cam", "admin", "admin", [] { return std::string("abc123"); });
        std::vector<std::string> challenges;
        ASSERT_FALSE(auth.Admit("DESCRIBE", "", challenges));
        ASSERT_EQ(challenges.size(), 1u);
        EXPECT_EQ(challenges[0], "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc123\", qop=\"auth\", algorithm=" +
                                     std::string(algorithm.algorithm));
        auto H = algorithm.hash;
        const std::string ha1 = H("admin:cam:admin");
        const std::string ha2 = H("DESCRIBE:rtsp://x/");
        auto header = [&](const std::string& nc, const std::string& nonce) {
            return "Digest username=\"admin\", realm=\"cam\", nonce=\"" + nonce + "\", uri=\"rtsp://x/\", response=\"" +
                   H(ha1 + ":" + nonce + ":" + nc + ":c1:auth:" + ha2) + "\", algorithm=" + algorithm.algorithm +
                   ", qop=auth, nc=" + nc + ", cnonce=\"c1\"";
        };
        EXPECT_TRUE(auth.Admit("DESCRIBE", header("00000001", "abc123"), challenges));
        EXPECT_FALSE(auth.Admit("DESCRIBE", header("00000001", "abc123"), challenges));  // replayed count
        EXPECT_TRUE(auth.Admit("DESCRIBE", header("00000002", "abc123"), challenges));
        EXPECT_FALSE(auth.Admit("DESCRIBE", header("00000003", "issuednever"), challenges));
        EXPECT_FALSE(auth.Admit("SETUP", header("00000004", "abc123"), challenges));  // signed for another method
        EXPECT_EQ(challenges[0].find("stale"), std::string::npos);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        EXPECT_FALSE(auth.Admit("DESCRIBE", header("00000005", "abc123"), challenges));
        ASSERT_EQ(challenges.size(), 1u);
        EXPECT_NE(challenges[0].find(", stale=true"), std::string::npos) << challenges[0];
    }
}

TEST_F(CamsimTest, EachDigestNonceAnswersOnlyItsOwnChallenge) {
    int made = 0;
    Authenticator auth(AuthSettings{AuthScheme::kDigest, {"SHA-256", "MD5"}, 0}, "cam", "admin", "admin",
                       [&made] { return "n" + std::to_string(++made); });
    std::vector<std::string> challenges;
    ASSERT_FALSE(auth.Admit("DESCRIBE", "", challenges));
    ASSERT_EQ(challenges, (std::vector<std::string>{
                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", algorithm=SHA-256",
                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n2\", algorithm=MD5"}));
    auto md5Answer = [](const std::string& nonce) {
        std::string response = kestrel::Md5Hex(kestrel::Md5Hex("admin:cam:admin") + ":" + nonce + ":" +
                                               kestrel::Md5Hex("DESCRIBE:rtsp://x/"));
        return "Digest username=\"admin\", realm=\"cam\", nonce=\"" + nonce + "\", uri=\"rtsp://x/\", response=\"" +
               response + "\", algorithm=MD5";
    };
    EXPECT_FALSE(auth.Admit("DESCRIBE", md5Answer("n1"), challenges));  // the SHA-256 challenge's nonce
    EXPECT_TRUE(auth.Admit("DESCRIBE", md5Answer("n2"), challenges));
}

TEST_F(CamsimTest, AuthCommandChangesTheChallenges) {
    StartCamera();
    struct Case {
        const char* command;
        const char* answer;
        std::vector<std::string> algorithms;  // of the challenges of a 401, in order; none: no 401
    };
    const Case cases[] = {
        {"auth rtsp digest-qop:SHA-256,MD5 5000", "OK", {"SHA-256", "MD5"}},
        {"auth rtsp digest-qop:MD5,SHA-256-sess", "OK", {"MD5", "SHA-256-sess"}},
        {"auth rtsp digest", "OK", {""}},
        {"auth rtsp digest-qop:SHA-512-256", "ERR scheme", {""}},
        {"auth rtsp basic:SHA-256", "ERR scheme", {""}},
        {"auth rtsp none", "OK", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(camera->Execute(c.command), c.answer) << c.command;
        std::vector<std::string> challenges;
        std::vector<std::string> algorithms;
        if (!camera->Rtsp().Auth().Admit("OPTIONS", "", challenges)) {
            for (const std::string& challenge : challenges) {
                std::size_t at = challenge.find("algorithm=");
                algorithms.push_back(at == std::string::npos ? "" : challenge.substr(at + 10));
            }
        }
        EXPECT_EQ(algorithms, c.algorithms) << c.command;
    }
}

struct ReceivedRtp {
    std::size_t packets = 0;
    std::uint32_t ssrc = 0;
    bool senderReport = false;
};

class CamsimStreamTest : public CamsimTest {
protected:
    // OPTIONS, DESCRIBE, SETUP and PLAY with the driver's client, then packets for `ms`.
    ReceivedRtp Play(unsigned channel, int ms) {
        ReceivedRtp received;
        EXPECT_TRUE(web.Connect(Device()));
        EXPECT_TRUE(rtp.Bind(0));
        EXPECT_TRUE(rtcp.Bind(0));
        kestrel::RTSPConnectSettings settings = RtspSettings(web.GetSessionId(), channel);
        settings.clientRtpPort = rtp.Port();
        settings.clientRtcpPort = rtcp.Port();
        EXPECT_TRUE(rtsp.Connect(settings));
        for (RTSPMethod method : {RTSPMethod::kOptions, RTSPMethod::kDescribe, RTSPMethod::kSetup, RTSPMethod::kPlay}) {
            EXPECT_TRUE(rtsp.Execute(method));
            EXPECT_EQ(rtsp.GetResponse().statusCode, 200);
        }
        std::uint8_t buffer[2048];
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            Endpoint from;
            int size = rtp.Receive(buffer, sizeof buffer, from, 20);
            if (size >= 12 && (buffer[0] >> 6) == 2) {
                ++received.packets;
                received.ssrc = std::uint32_t(buffer[8]) << 24 | buffer[9] << 16 | buffer[10] << 8 | buffer[11];
            }
            size = rtcp.Receive(buffer, sizeof buffer, reportFrom, 0);
            if (size >= 28 && buffer[1] == 200) received.senderReport = true;
        }
        return received;
    }

    CCiscoClient web;
    kestrel::CBaseRTSPClient rtsp;
    UdpSocket rtp, rtcp;
    Endpoint reportFrom;
};

TEST_F(CamsimStreamTest, PlayedStreamSendsRtpAndSenderReportsAndNotesReceiverReports) {
    StartCamera();
    ReceivedRtp received = Play(1, 1000);
    EXPECT_GT(received.packets, 20u);
    EXPECT_TRUE(received.senderReport);
    EXPECT_LT(std::abs(static_cast<int>(rtsp.GetSessionTimeout()) - 60000), 1);

    // A receiver report (RFC 3550 section 6.4.2) with one block about the camera's stream.
    std::uint8_t report[32] = {0x81, 201, 0, 7, 0, 0, 0, 9};
    for (int i = 0; i < 4; ++i) report[8 + i] = static_cast<std::uint8_t>(received.ssrc >> (24 - 8 * i));
    report[13] = 0;
    report[15] = 3;  // cumulative lost 3
    ASSERT_TRUE(rtcp.SendTo(report, sizeof report, reportFrom));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<ReceiverReport> reports = camera->Streamer().Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].sourceSsrc, received.ssrc);
    EXPECT_EQ(reports[0].cumulativeLost, 3);

    EXPECT_TRUE(rtsp.Execute(RTSPMethod::kTeardown));
    EXPECT_EQ(camera->Rtsp().SessionCount(), 0u);
    EXPECT_EQ(camera->Streamer().StreamCount(), 0u);
}

TEST_F(CamsimStreamTest, LossAndPauseFaultsSilenceTheStream) {
    StartCamera();
    ASSERT_EQ(camera->Execute("rates 1 0 0"), "OK");
    EXPECT_EQ(Play(1, 500).packets, 0u);
    ASSERT_EQ(camera->Execute("rates 0 0 0"), "OK");
    ASSERT_EQ(camera->Execute("pause 1"), "OK");
    std::uint8_t buffer[2048];
    Endpoint from;
    while (rtp.Receive(buffer, sizeof buffer, from, 0) > 0) {
    }
    EXPECT_EQ(rtp.Receive(buffer, sizeof buffer, from, 500), -1);
    EXPECT_GT(rtp.Receive(buffer, sizeof buffer, from, 1500), 0);
}

TEST_F(CamsimStreamTest, DroppedRtspConnectionEndsItsSessions) {
    StartCamera();
    Play(2, 200);
    EXPECT_EQ(camera->Rtsp().SessionCount(), 1u);
    ASSERT_EQ(camera->Execute("drop-rtsp"), "OK");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(camera->Rtsp().SessionCount(), 0u);
    EXPECT_FALSE(rtsp.Execute(RTSPMethod::kOptions));
}

TEST_F(CamsimStreamTest, OldStreamReachesTheGivenPort) {
    StartCamera();
    UdpSocket target;
    ASSERT_TRUE(target.Bind(0));
    ASSERT_EQ(camera->Execute("old-stream " + std::to_string(target.Port()) + " 1"), "OK");
    std::uint8_t buffer[2048];
    Endpoint from;
    EXPECT_GT(target.Receive(buffer, sizeof buffer, from, 1000), 12);
    EXPECT_EQ(from.port, camera->RtpPort());
}

TEST_F(CamsimTest, MalformedControlAndRtcpInputIsRefused) {
    StartCamera();
    for (const char* command : {"", "rates 1", "input x y", "old-stream 0 1", "status ftp login 500", "bogus"})
        EXPECT_EQ(camera->Execute(command).substr(0, 3), "ERR") << command;
    UdpSocket sender;
    ASSERT_TRUE(sender.Bind(0));
    const std::uint8_t truncated[] = {0x81, 201, 0, 40, 1, 2, 3, 4};  // claims 164 bytes
    ASSERT_TRUE(sender.SendTo(truncated, sizeof truncated, {kLoopback, static_cast<std::uint16_t>(camera->RtpPort() + 1)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(camera->Streamer().Reports().empty());
}

}  // namespace
}  // namespace camsim
