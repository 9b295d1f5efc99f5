// The client against GStreamer's RTSP server, started around this binary by gst_rtsp_peer.py.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/tcp_socket.h"
#include "rtsp/rtsp_client.h"

namespace kestrel {
namespace {

const bool kSocketsStarted = platform::SocketsStartup();

struct Peer {
    std::uint16_t open = 0;
    std::uint16_t digest = 0;
    std::uint16_t basic = 0;
    std::string user;
    std::string password;
    std::string missing;
};

Peer FindPeer() {
    Peer peer;
    const char* ports = std::getenv("QUILLON_RTSP_PEER");
    const char* missing = std::getenv("QUILLON_RTSP_PEER_MISSING");
    if (ports == nullptr) {
        peer.missing = missing != nullptr ? missing : "not started through gst_rtsp_peer.py";
        return peer;
    }
    std::istringstream in(ports);
    in >> peer.open >> peer.digest >> peer.basic;
    const char* user = std::getenv("QUILLON_RTSP_USER");
    const char* password = std::getenv("QUILLON_RTSP_PASSWORD");
    peer.user = user != nullptr ? user : "";
    peer.password = password != nullptr ? password : "";
    return peer;
}

// Two free-looking UDP port numbers for the server to send RTP and RTCP to; nothing listens.
std::uint16_t EvenEphemeralPort() {
    platform::TcpListener probe;
    if (probe.Listen(0, 1) != platform::SocketError::kNone) return 40000;
    return static_cast<std::uint16_t>(probe.Port() & ~1u);
}

void RunSession(std::uint16_t port, const std::string& user, const std::string& password, RTSPAuthType expectedAuth) {
    CBaseRTSPClient client;
    RTSPConnectSettings settings;
    settings.host = "127.0.0.1";
    settings.serverPort = port;
    settings.user = user;
    settings.password = password;
    settings.clientRtpPort = EvenEphemeralPort();
    settings.clientRtcpPort = static_cast<std::uint16_t>(settings.clientRtpPort + 1);
    settings.connectTimeout = 2000;
    settings.receiveTimeout = 5000;
    settings.describePath = "test";
    settings.setupPath = "test";
    settings.playPath = "test";
    settings.teardownPath = "test";
    ASSERT_TRUE(client.Connect(settings));
    const RTSPResponse& response = client.GetResponse();

    for (RTSPMethod method : {RTSPMethod::kOptions, RTSPMethod::kDescribe}) {
        ASSERT_TRUE(client.Execute(method)) << GetMethodName(method) << " status " << response.statusCode;
        ASSERT_EQ(response.statusCode, 200) << GetMethodName(method);
    }
    EXPECT_EQ(client.GetSettings().authType, expectedAuth);
    EXPECT_EQ(response.videoControl, "stream=0");
    for (RTSPMethod method : {RTSPMethod::kSetup, RTSPMethod::kPlay, RTSPMethod::kTeardown}) {
        ASSERT_TRUE(client.Execute(method)) << GetMethodName(method) << " status " << response.statusCode;
        EXPECT_EQ(response.statusCode, 200) << GetMethodName(method);
        if (method == RTSPMethod::kSetup) {
            EXPECT_FALSE(response.session.empty());
            EXPECT_EQ(client.GetSessionTimeout(), 60000u);  // GStreamer's default session time-out
        }
    }
    client.Disconnect();
}

TEST(RTSPInteropTest, StreamsFromAnOpenServer) {
    Peer peer = FindPeer();
    if (peer.open == 0) GTEST_SKIP() << peer.missing;
    RunSession(peer.open, "", "", RTSPAuthType::kNone);
}

TEST(RTSPInteropTest, AnswersDigestAndBasicChallenges) {
    Peer peer = FindPeer();
    if (peer.digest == 0) GTEST_SKIP() << peer.missing;
    RunSession(peer.digest, peer.user, peer.password, RTSPAuthType::kDigest);
    RunSession(peer.basic, peer.user, peer.password, RTSPAuthType::kBasic);
}

}  // namespace
}  // namespace kestrel
