#include "media/rtcp_responder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "udp_test_peer.h"

namespace kestrel {
namespace {

using testing_support::SocketsScope;
using testing_support::UdpTestPeer;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kOwnSsrc = 0x11223344;
constexpr std::uint32_t kWaitMs = 3000;

// A sender report from SSRC 0xAABBCCDD whose NTP time is 0x01020304.05060708 (28 bytes).
const Bytes kSenderReport{
    0x80, 200, 0x00, 0x06,   // V=2, no report blocks, SR, length 6
    0xAA, 0xBB, 0xCC, 0xDD,  // sender SSRC
    0x01, 0x02, 0x03, 0x04,  // NTP seconds
    0x05, 0x06, 0x07, 0x08,  // NTP fraction
    0x00, 0x00, 0x10, 0x00,  // RTP time
    0x00, 0x00, 0x00, 0x10,  // packet count
    0x00, 0x00, 0x40, 0x00,  // octet count
};

Bytes Answer(const Bytes& ssrcOfSource, const Bytes& lsr, const std::string& cname) {
    Bytes expected{
        0x81, 201, 0x00, 0x07,  // RR, one report block, length 7
        0x11, 0x22, 0x33, 0x44,  // own SSRC
    };
    expected.insert(expected.end(), ssrcOfSource.begin(), ssrcOfSource.end());
    expected.insert(expected.end(), {0, 0, 0, 0,  // fraction and cumulative lost
                                     0, 0, 0, 0,  // extended highest sequence
                                     0, 0, 0, 0}); // jitter
    expected.insert(expected.end(), lsr.begin(), lsr.end());
    expected.insert(expected.end(), {0, 0, 0, 1});  // DLSR
    expected.insert(expected.end(), {
        0x81, 202, 0x00, 0x08,   // SDES, one chunk, length 8
        0x11, 0x22, 0x33, 0x44,  // own SSRC
        1, std::uint8_t(cname.size()),  // CNAME item
    });
    Bytes text(26, 0);
    std::copy(cname.begin(), cname.end(), text.begin());
    expected.insert(expected.end(), text.begin(), text.end());
    return expected;
}

const Bytes kBye{0x81, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44};

TEST(RTCPAnswerTest, LayoutAndCnameShortening) {
    struct Case {
        const char* name;
        Bytes received;
        std::string cname;
        Bytes expected;
    };
    const std::string name25(25, 'n');
    Bytes receiverReport = kSenderReport;
    receiverReport[1] = 201;
    const Case cases[] = {
        {"SenderReport", kSenderReport, "camhost", Answer({0xAA, 0xBB, 0xCC, 0xDD}, {0x03, 0x04, 0x05, 0x06}, "camhost")},
        // Only a Sender Report carries an NTP time to echo.
        {"ReceiverReport", receiverReport, "camhost", Answer({0xAA, 0xBB, 0xCC, 0xDD}, {0, 0, 0, 0}, "camhost")},
        // 25 characters fit with the zero octet that ends the item list.
        {"Cname25", kSenderReport, name25, Answer({0xAA, 0xBB, 0xCC, 0xDD}, {0x03, 0x04, 0x05, 0x06}, name25)},
        // Longer names are cut so the length octet equals the octets sent.
        {"Cname40", kSenderReport, name25 + std::string(15, 'x'),
         Answer({0xAA, 0xBB, 0xCC, 0xDD}, {0x03, 0x04, 0x05, 0x06}, name25)},
    };
    for (const Case& c : cases) {
        const auto answer = BuildRTCPAnswer(kOwnSsrc, c.cname, c.received.data(), c.received.size());
        EXPECT_EQ(Bytes(answer.begin(), answer.end()), c.expected) << c.name;
        EXPECT_EQ(answer.back(), 0) << c.name;  // the item list stays terminated
    }
    const auto bye = BuildRTCPBye(kOwnSsrc);
    EXPECT_EQ(Bytes(bye.begin(), bye.end()), kBye);
}

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(RTCPAnswerTest, CompoundPacketsAreCheckedAsRfc3550A2Says) {
    const Bytes emptyReceiverReport{0x80, 201, 0x00, 0x01, 0xAA, 0xBB, 0xCC, 0xDD};
    const Bytes sdes{0x81, 202, 0x00, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 1, 1, 'c', 0};
    Bytes paddedSdes = sdes;
    paddedSdes[0] |= 0x20;
    struct Case {
        const char* name;
        Bytes datagram;
        bool valid;
    };
    const Case cases[] = {
        {"sender report", kSenderReport, true},
        {"receiver report without blocks", emptyReceiverReport, true},
        {"report then description", Joined(kSenderReport, sdes), true},
        {"last packet padded", Joined(kSenderReport, paddedSdes), true},
        {"empty", {}, false},
        {"ten bytes", Bytes(kSenderReport.begin(), kSenderReport.begin() + 10), false},
        {"header only", Bytes(emptyReceiverReport.begin(), emptyReceiverReport.begin() + 4), false},
        {"version 1", Bytes{0x40, 201, 0x00, 0x01, 0xAA, 0xBB, 0xCC, 0xDD}, false},
        {"first packet a description", sdes, false},
        {"first packet padded", Bytes{0xA0, 201, 0x00, 0x01, 0xAA, 0xBB, 0xCC, 0xDD}, false},
        {"padding before the last packet", Joined(paddedSdes, kSenderReport), false},
        {"sender report shorter than its sender info", Bytes{0x80, 200, 0x00, 0x01, 0xAA, 0xBB, 0xCC, 0xDD}, false},
        {"report block announced, not sent", Bytes{0x81, 201, 0x00, 0x01, 0xAA, 0xBB, 0xCC, 0xDD}, false},
        {"length beyond the datagram", Bytes{0x80, 201, 0x00, 0x09, 0xAA, 0xBB, 0xCC, 0xDD}, false},
        {"bytes left after the last packet", Joined(emptyReceiverReport, {0x80, 202}), false},
        {"second packet of another version", Joined(emptyReceiverReport, {0x00, 202, 0x00, 0x00}), false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidRTCPCompound(c.datagram.data(), c.datagram.size()), c.valid) << c.name;
}

// The responder as a session runs it: the companion of an RTP port, answered from that port's
// receive thread.
class RTCPResponderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sockets.Started());
        ASSERT_TRUE(m_camera.Ok());
    }

    RTCPResponderSettings Settings() {
        RTCPResponderSettings settings;
        settings.onForeign = [this] { ++m_foreign; };
        settings.onMalformed = [this] { ++m_malformed; };
        settings.random = [] { return kOwnSsrc; };
        settings.hostName = "camhost";
        settings.localAddress = platform::kIpv4Loopback;
        return settings;
    }

    // Starts on an ephemeral loopback port, answering only `cameraAddress`, served by m_rtp.
    std::uint16_t Start(CRTCPResponder& responder, std::uint32_t cameraAddress = platform::kIpv4Loopback) {
        if (!responder.Start(0, cameraAddress)) return 0;
        if (m_rtp.Open("127.0.0.1", 0) != UDPPortOpenResult::kOpened) return 0;
        m_rtp.SetCompanion(&responder);
        return responder.GetPort();
    }

    // In the session's order: the port that serves it closes first.
    void Stop(CRTCPResponder& responder) {
        m_rtp.Close();
        responder.Stop();
    }

    SocketsScope m_sockets;
    UdpTestPeer m_camera;
    CUDPPort m_rtp;
    std::atomic<int> m_foreign{0};
    std::atomic<int> m_malformed{0};
};

TEST_F(RTCPResponderTest, AnswersEveryPacketAndSaysByeOnStop) {
    CRTCPResponder responder(Settings());
    const std::uint16_t port = Start(responder);
    ASSERT_NE(port, 0);
    EXPECT_EQ(responder.GetSsrc(), kOwnSsrc);

    // Either report is answered, from the responder's port, also when several queue up at once.
    Bytes receiverReport = kSenderReport;
    receiverReport[1] = 201;
    for (const Bytes& packet : {kSenderReport, receiverReport, kSenderReport}) ASSERT_TRUE(m_camera.SendTo(port, packet));
    for (int i = 0; i < 3; ++i) {
        Bytes answer;
        platform::Ipv4Endpoint from;
        ASSERT_TRUE(m_camera.Receive(answer, kWaitMs, &from));
        EXPECT_EQ(answer.size(), kRTCPAnswerLength);
        EXPECT_EQ(from.port, port);
    }

    Stop(responder);
    Bytes bye;
    ASSERT_TRUE(m_camera.Receive(bye, kWaitMs));
    EXPECT_EQ(bye, kBye);
    EXPECT_FALSE(responder.IsRunning());
}

// Whether the session named the camera's RTCP port or the first valid packet showed it, only
// that port is answered and hears the BYE; nothing from anywhere ends the responder.
TEST_F(RTCPResponderTest, OnlyTheCamerasRtcpPortIsAnsweredAndNothingEndsIt) {
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "port named" : "port latched");
        m_foreign = 0;
        m_malformed = 0;
        UdpTestPeer other;  // the camera's address, another port
        ASSERT_TRUE(other.Ok());
        CRTCPResponder responder(Settings());
        const std::uint16_t port = Start(responder);
        ASSERT_NE(port, 0);
        if (named) responder.SetCameraPort(m_camera.Endpoint().port);
        Bytes answer;
        if (!named) {
            ASSERT_TRUE(m_camera.SendTo(port, kSenderReport));
            ASSERT_TRUE(m_camera.Receive(answer, kWaitMs));
        }
        for (const Bytes& bad : {Bytes(10, 0x80), Bytes{0x80, 201, 0x00}, Bytes{0x40, 201, 0x00, 0x01, 0, 0, 0, 0}})
            ASSERT_TRUE(m_camera.SendTo(port, bad));
        ASSERT_TRUE(other.SendTo(port, kSenderReport));
        ASSERT_TRUE(other.SendTo(port, Bytes(4, 0x80)));
        EXPECT_FALSE(other.Receive(answer, 200));
        ASSERT_TRUE(m_camera.SendTo(port, kSenderReport));
        ASSERT_TRUE(m_camera.Receive(answer, kWaitMs));
        EXPECT_EQ(answer.size(), kRTCPAnswerLength);
        EXPECT_TRUE(responder.IsRunning());
        EXPECT_EQ(m_malformed.load(), 3);
        EXPECT_EQ(m_foreign.load(), 2);

        Stop(responder);
        ASSERT_TRUE(m_camera.Receive(answer, kWaitMs));
        EXPECT_EQ(answer, kBye);
        EXPECT_FALSE(other.Receive(answer, 100));
    }
}

TEST_F(RTCPResponderTest, StrangersAreNeitherAnsweredNorAbleToEndIt) {
    CRTCPResponder responder(Settings());
    // The camera is elsewhere; the loopback peer is a stranger.
    const std::uint16_t port = Start(responder, 0x0A000001);
    ASSERT_NE(port, 0);
    ASSERT_TRUE(m_camera.SendTo(port, kSenderReport));
    ASSERT_TRUE(m_camera.SendTo(port, Bytes(4, 0x80)));
    Bytes answer;
    EXPECT_FALSE(m_camera.Receive(answer, 200));
    EXPECT_TRUE(responder.IsRunning());
    EXPECT_EQ(m_foreign.load(), 2);
    Stop(responder);
    // Nothing came from the camera, so no BYE goes anywhere.
    EXPECT_FALSE(m_camera.Receive(answer, 100));
}

TEST_F(RTCPResponderTest, UnreachableCameraPortDoesNotEndIt) {
    CRTCPResponder responder(Settings());
    const std::uint16_t port = Start(responder);
    ASSERT_NE(port, 0);
    std::uint16_t cameraPort = 0;
    {
        // The answer to the camera meets a closed port; the ICMP report comes back.
        UdpTestPeer gone;
        cameraPort = gone.Endpoint().port;
        ASSERT_TRUE(gone.SendTo(port, kSenderReport));
        gone.Close();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    UdpTestPeer back(cameraPort);
    ASSERT_TRUE(back.Ok());
    ASSERT_TRUE(back.SendTo(port, kSenderReport));
    Bytes answer;
    ASSERT_TRUE(back.Receive(answer, kWaitMs));
    EXPECT_EQ(answer.size(), kRTCPAnswerLength);
    EXPECT_TRUE(responder.IsRunning());
    Stop(responder);
}

TEST_F(RTCPResponderTest, StartFailsOnTakenPortAndWhenStarted) {
    CRTCPResponder responder(Settings());
    EXPECT_FALSE(responder.Start(m_camera.Endpoint().port, platform::kIpv4Loopback));
    EXPECT_FALSE(responder.IsRunning());
    ASSERT_TRUE(responder.Start(0, platform::kIpv4Loopback));
    EXPECT_FALSE(responder.Start(0, platform::kIpv4Loopback));
    responder.Stop();
    // A stopped responder starts again, for the next session.
    EXPECT_TRUE(responder.Start(0, platform::kIpv4Loopback));
}

TEST(RTCPResponderSsrcTest, ResponderDrawsFromProcessSourceByDefault) {
    SocketsScope sockets;
    RTCPResponderSettings settings;
    settings.localAddress = platform::kIpv4Loopback;
    CRTCPResponder first(settings);
    CRTCPResponder second(settings);
    ASSERT_TRUE(first.Start(0, platform::kIpv4Loopback));
    ASSERT_TRUE(second.Start(0, platform::kIpv4Loopback));
    // Two sessions started at once must not share an SSRC.
    EXPECT_NE(first.GetSsrc(), second.GetSsrc());
    EXPECT_FALSE(first.GetCname().empty());
}

}  // namespace
}  // namespace kestrel
