// The client against the camera simulator under each authentication it offers: in-process
// natively, the native simulator program under wine64, both set through the control commands.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "platform/udp_socket.h"
#include "rtsp/rtsp_client.h"
#include "support/camera_peer.h"
#include "webapi/cisco_client.h"

namespace kestrel {
namespace {

// The RTSP port from the answer to "ports" ("OK web=W rtsp=R rtp=P control=C"); 0 when absent.
std::uint16_t RtspPort(testing::CameraPeer& camera) {
    std::istringstream answer(camera.Execute("ports"));
    for (std::string word; answer >> word;) {
        if (word.compare(0, 5, "rtsp=") == 0) return static_cast<std::uint16_t>(std::stoul(word.substr(5)));
    }
    return 0;
}

std::uint16_t LocalPort(const platform::UdpSocket& socket) {
    platform::Ipv4Endpoint local;
    return socket.LocalEndpoint(local) == platform::SocketError::kNone ? local.port : 0;
}

class RTSPClientCamsimTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_camera.Problem().empty()) GTEST_SKIP() << m_camera.Problem();
        m_rtspPort = RtspPort(m_camera);
        ASSERT_NE(m_rtspPort, 0);
        ASSERT_EQ(m_rtp.Open(), platform::SocketError::kNone);
        ASSERT_EQ(m_rtcp.Open(), platform::SocketError::kNone);
        ASSERT_EQ(m_rtp.Bind({platform::kIpv4Loopback, 0}), platform::SocketError::kNone);
        ASSERT_EQ(m_rtcp.Bind({platform::kIpv4Loopback, 0}), platform::SocketError::kNone);
    }

    // Settings for channel 1 under a fresh web API session.
    RTSPConnectSettings Settings(CCiscoClient& web) {
        DEVICE_INFO device;
        device.host = "127.0.0.1";
        device.port = m_camera.WebPort();
        device.user = "admin";
        device.password = "admin";
        device.operationTimeout = 2000;
        EXPECT_TRUE(web.Connect(device));
        RTSPConnectSettings settings;
        settings.host = "127.0.0.1";
        settings.serverPort = m_rtspPort;
        settings.user = "admin";
        settings.password = "admin";
        settings.receiveTimeout = 2000;
        settings.clientRtpPort = LocalPort(m_rtp);
        settings.clientRtcpPort = LocalPort(m_rtcp);
        settings.describePath = "StreamingSetting?version=1.0&action=getRTSPStream&sessionID=" + web.GetSessionId() +
                                "&ChannelID=1&ChannelName=Channel1";
        settings.setupPath = settings.playPath = settings.teardownPath = "ChannelID=1&ChannelName=Channel1";
        return settings;
    }

    testing::CameraPeer m_camera;
    std::uint16_t m_rtspPort = 0;
    platform::UdpSocket m_rtp, m_rtcp;
};

TEST_F(RTSPClientCamsimTest, EachAuthenticationAdmitsTheClient) {
    using D = DigestAlgorithm;
    struct Case {
        const char* auth;  // the simulator's RTSP authentication
        RTSPAuthType type;
        D algorithm;  // of the challenge the client answered
    };
    const Case cases[] = {
        {"basic", RTSPAuthType::kBasic, D::kMd5},
        {"digest", RTSPAuthType::kDigest, D::kMd5},
        {"digest-qop", RTSPAuthType::kDigest, D::kMd5},
        {"digest:SHA-256", RTSPAuthType::kDigest, D::kSha256},
        {"digest-qop:SHA-256", RTSPAuthType::kDigest, D::kSha256},
        {"digest-qop:SHA-256-sess", RTSPAuthType::kDigest, D::kSha256Sess},
        {"digest-qop:MD5-sess", RTSPAuthType::kDigest, D::kMd5Sess},
        {"digest-qop:MD5,SHA-256", RTSPAuthType::kDigest, D::kSha256},
        {"digest-qop:SHA-256,MD5", RTSPAuthType::kDigest, D::kSha256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.auth);
        ASSERT_EQ(m_camera.Execute(std::string("auth rtsp ") + c.auth), "OK");
        CCiscoClient web;
        RTSPConnectSettings settings = Settings(web);
        {
            CBaseRTSPClient rtsp;
            ASSERT_TRUE(rtsp.Connect(settings));
            for (RTSPMethod method : {RTSPMethod::kOptions, RTSPMethod::kDescribe, RTSPMethod::kSetup, RTSPMethod::kPlay,
                                      RTSPMethod::kOptions, RTSPMethod::kTeardown}) {
                ASSERT_TRUE(rtsp.Execute(method)) << GetMethodName(method);
                EXPECT_EQ(rtsp.GetResponse().statusCode, 200) << GetMethodName(method);
            }
            EXPECT_EQ(rtsp.GetSettings().authType, c.type);
            EXPECT_EQ(rtsp.GetResponse().digestAlgorithm, c.algorithm);
        }
        CBaseRTSPClient wrong;
        settings.password = "wrong";
        ASSERT_TRUE(wrong.Connect(settings));
        ASSERT_TRUE(wrong.Execute(RTSPMethod::kDescribe));
        EXPECT_EQ(wrong.GetResponse().statusCode, 401);
        web.Disconnect();
    }
}

TEST_F(RTSPClientCamsimTest, AnExpiredNonceIsRenewedMidSession) {
    ASSERT_EQ(m_camera.Execute("auth rtsp digest-qop:SHA-256,MD5 300"), "OK");
    CCiscoClient web;
    CBaseRTSPClient rtsp;
    ASSERT_TRUE(rtsp.Connect(Settings(web)));
    for (RTSPMethod method : {RTSPMethod::kDescribe, RTSPMethod::kSetup, RTSPMethod::kPlay}) {
        ASSERT_TRUE(rtsp.Execute(method)) << GetMethodName(method);
        EXPECT_EQ(rtsp.GetResponse().statusCode, 200) << GetMethodName(method);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    // The keep-alive meets a stale nonce, takes the new one and the session goes on.
    ASSERT_TRUE(rtsp.Execute(RTSPMethod::kOptions));
    EXPECT_EQ(rtsp.GetResponse().statusCode, 200);
    ASSERT_TRUE(rtsp.Execute(RTSPMethod::kTeardown));
    EXPECT_EQ(rtsp.GetResponse().statusCode, 200);
    web.Disconnect();
}

}  // namespace
}  // namespace kestrel
