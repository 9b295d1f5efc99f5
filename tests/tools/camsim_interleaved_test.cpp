// The simulator's RTP inside the RTSP connection, seen by a raw-socket client that splits what
// arrives into "$" frames, RTSP answers and stray bytes; and the UDP faults that send a client
// there.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim_fixture.h"
#include "camsim/net.h"
#include "camsim/text.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

struct Frame {
    unsigned channel = 0;
    std::string bytes;
};

struct RtpHeader {
    bool valid = false;
    std::uint16_t sequence = 0;
    std::uint32_t ssrc = 0;
};

RtpHeader ReadRtp(const std::string& bytes) {
    RtpHeader header;
    if (bytes.size() < 12 || (std::uint8_t(bytes[0]) >> 6) != 2) return header;
    auto byte = [&](std::size_t at) { return std::uint32_t(std::uint8_t(bytes[at])); };
    header.valid = true;
    header.sequence = static_cast<std::uint16_t>(byte(2) << 8 | byte(3));
    header.ssrc = byte(8) << 24 | byte(9) << 16 | byte(10) << 8 | byte(11);
    return header;
}

// An RTSP client on a plain socket that keeps everything the camera sends, in order.
class RawRtspClient {
public:
    // `receiveBuffer` > 0 shrinks the socket's receive buffer, so a client that stops reading
    // pushes back on the camera at once.
    bool Connect(std::uint16_t port, int receiveBuffer = 0) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(kLoopback);
        address.sin_port = htons(port);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return false;
        }
        m_connection = Connection(fd);
        m_port = port;
        return true;
    }

    std::string Url(unsigned track) const {
        return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/ChannelID=1&ChannelName=Channel1/trackID=" +
               std::to_string(track);
    }

    // Sends a request; its CSeq.
    unsigned Send(const std::string& method, const std::string& url, const std::string& headers = "") {
        ++m_cseq;
        std::string text = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(m_cseq) + "\r\n";
        if (!m_session.empty()) text += "Session: " + m_session + "\r\n";
        m_connection.SendAll(text + headers + "\r\n");
        return m_cseq;
    }

    // Sends a request and reads until its answer came; the answer ("" on a time-out).
    std::string Request(const std::string& method, const std::string& url, const std::string& headers = "") {
        const std::string cseq = "CSeq: " + std::to_string(Send(method, url, headers)) + "\r\n";
        const auto end = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < end) {
            for (std::size_t i = m_answersSeen; i < answers.size(); ++i) {
                if (answers[i].find(cseq) == std::string::npos) continue;
                m_answersSeen = i + 1;
                std::size_t at = answers[i].find("Session: ");
                if (at != std::string::npos) m_session = answers[i].substr(at + 9, answers[i].find_first_of(";\r", at) - at - 9);
                return answers[i];
            }
            if (!Read(50)) break;
        }
        return std::string();
    }

    std::string Setup(unsigned track, const std::string& transport) {
        return Request("SETUP", Url(track), "Transport: " + transport + "\r\n");
    }

    // Reads and splits for `ms`; false once the camera closed the connection.
    bool Read(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        do {
            bool timedOut = false;
            if (!m_connection.ReceiveSome(m_buffer, 10, timedOut)) return false;
            Split();
        } while (Clock::now() < end);
        return true;
    }

    // Frames on one channel that arrived since the last call, for every channel.
    std::vector<Frame> TakeFrames() { return std::exchange(frames, {}); }

    void SendFrame(std::uint8_t channel, const std::string& payload) {
        std::string frame{'$', static_cast<char>(channel), static_cast<char>(payload.size() >> 8),
                          static_cast<char>(payload.size() & 0xFF)};
        m_connection.SendAll(frame + payload);
    }

    std::vector<Frame> frames;
    std::vector<std::string> answers;
    std::size_t strayBytes = 0;  // neither a frame nor an answer

private:
    void Split() {
        for (;;) {
            if (m_buffer.size() >= 4 && m_buffer[0] == '$') {
                std::size_t size = std::size_t(std::uint8_t(m_buffer[2])) << 8 | std::uint8_t(m_buffer[3]);
                if (m_buffer.size() < 4 + size) return;
                frames.push_back({std::uint8_t(m_buffer[1]), m_buffer.substr(4, size)});
                m_buffer.erase(0, 4 + size);
            } else if (m_buffer.compare(0, 5, "RTSP/") == 0) {
                std::size_t end = m_buffer.find("\r\n\r\n");
                if (end == std::string::npos) return;
                std::size_t length = 0;
                std::size_t at = m_buffer.find("Content-Length: ");
                if (at != std::string::npos && at < end) length = std::stoul(m_buffer.substr(at + 16));
                if (m_buffer.size() < end + 4 + length) return;
                answers.push_back(m_buffer.substr(0, end + 4 + length));
                m_buffer.erase(0, end + 4 + length);
            } else if (!m_buffer.empty() && m_buffer[0] != '$' && std::string("RTSP/").compare(0, m_buffer.size(), m_buffer) != 0) {
                ++strayBytes;
                m_buffer.erase(0, 1);
            } else {
                return;
            }
        }
    }

    Connection m_connection;
    std::uint16_t m_port = 0;
    std::string m_buffer;
    std::string m_session;
    unsigned m_cseq = 0;
    std::size_t m_answersSeen = 0;
};

bool Accepted(const std::string& answer) { return answer.compare(0, 15, "RTSP/1.0 200 OK") == 0; }
bool RefusedTransport(const std::string& answer) { return answer.compare(0, 12, "RTSP/1.0 461") == 0; }

std::vector<RtpHeader> RtpOn(const std::vector<Frame>& frames, unsigned channel) {
    std::vector<RtpHeader> packets;
    for (const Frame& frame : frames)
        if (frame.channel == channel) packets.push_back(ReadRtp(frame.bytes));
    return packets;
}

TEST_F(CamsimTest, InterleavedSessionCarriesRtpAndRtcpAndAnswersBetweenFrames) {
    StartCamera();
    RawRtspClient client;
    ASSERT_TRUE(client.Connect(camera->RtspPort()));
    std::string setup = client.Setup(1, "RTP/AVP/TCP;unicast;interleaved=4-5");
    ASSERT_TRUE(Accepted(setup)) << setup;
    EXPECT_NE(setup.find("Transport: RTP/AVP/TCP;unicast;interleaved=4-5;ssrc="), std::string::npos) << setup;
    ASSERT_TRUE(Accepted(client.Request("PLAY", client.Url(1))));
    ASSERT_TRUE(client.Read(700));

    // A keep-alive while the data flows: its answer comes whole between two frames.
    std::string keepAlive = client.Request("OPTIONS", client.Url(1));
    EXPECT_TRUE(Accepted(keepAlive)) << keepAlive;
    ASSERT_TRUE(client.Read(300));
    std::vector<Frame> frames = client.TakeFrames();
    EXPECT_EQ(client.strayBytes, 0u);
    std::vector<RtpHeader> rtp = RtpOn(frames, 4);
    ASSERT_GT(rtp.size(), 20u);
    for (std::size_t i = 0; i < rtp.size(); ++i) {
        ASSERT_TRUE(rtp[i].valid) << i;
        EXPECT_EQ(rtp[i].ssrc, rtp[0].ssrc);
        if (i > 0) {
            EXPECT_EQ(rtp[i].sequence, static_cast<std::uint16_t>(rtp[i - 1].sequence + 1)) << i;
        }
    }
    bool senderReport = false;
    for (const Frame& frame : frames) {
        EXPECT_TRUE(frame.channel == 4 || frame.channel == 5) << frame.channel;
        senderReport = senderReport || (frame.channel == 5 && frame.bytes.size() >= 28 && std::uint8_t(frame.bytes[1]) == 200);
    }
    EXPECT_TRUE(senderReport);

    // A receiver report inside the connection counts for the stream.
    std::string report(32, '\0');
    const std::uint8_t head[] = {0x81, 201, 0, 7, 0, 0, 0, 9};
    report.replace(0, 8, reinterpret_cast<const char*>(head), 8);
    for (int i = 0; i < 4; ++i) report[8 + i] = static_cast<char>(rtp[0].ssrc >> (24 - 8 * i));
    client.SendFrame(5, report);
    ASSERT_TRUE(client.Read(200));
    const std::string streams = camera->Execute("streams");
    EXPECT_NE(streams.find(":reports=1:client=tcp/4:dropped=0"), std::string::npos) << streams;
    EXPECT_NE(camera->Execute("sessions").find("=tcp/4-5"), std::string::npos);

    // TEARDOWN ends it with a BYE on the RTCP channel.
    client.TakeFrames();
    ASSERT_TRUE(Accepted(client.Request("TEARDOWN", client.Url(1))));
    ASSERT_TRUE(client.Read(100));
    bool bye = false;
    for (const Frame& frame : client.TakeFrames())
        bye = bye || (frame.channel == 5 && frame.bytes.find(static_cast<char>(203)) != std::string::npos);
    EXPECT_TRUE(bye);
    EXPECT_EQ(camera->Rtsp().SessionCount(), 0u);
}

TEST(RtspServerTest, TransportChoiceFollowsTheHeader) {
    struct Case {
        const char* header;
        unsigned track;
        bool udpAllowed;
        bool accepted;
        bool interleaved;
        unsigned rtp, rtcp;
    } cases[] = {
        {"RTP/AVP;unicast;client_port=5000-5001", 1, true, true, false, 5000, 5001},
        {"RTP/AVP/UDP;unicast;client_port=5000", 1, true, true, false, 5000, 5001},  // RTCP on the next port
        {"RTP/AVP;unicast;client_port=5000-0", 1, true, true, false, 5000, 5001},
        {"RTP/AVP;unicast;client_port=0-1", 1, true, false, false, 0, 0},
        {"RTP/AVP;unicast", 1, true, false, false, 0, 0},  // UDP needs ports
        {"RTP/AVP;multicast;client_port=5000-5001", 1, true, false, false, 0, 0},
        {"RTP/AVP/TCP;unicast;interleaved=0-1", 1, true, true, true, 0, 1},
        {"rtp/avp/tcp;unicast;interleaved=6", 1, true, true, true, 6, 7},
        {"RTP/AVP/TCP;unicast", 2, true, true, true, 2, 3},  // the track's own pair
        {"RTP/AVP/TCP;unicast;interleaved=255", 1, true, false, true, 0, 0},  // no channel after it
        {"RTP/AVP/TCP;unicast;interleaved=x", 1, true, false, true, 0, 0},
        {"RTP/SAVP;unicast;client_port=5000-5001", 1, true, false, false, 0, 0},
        // A list in order of preference: the first that fits.
        {"RTP/AVP;unicast;client_port=5000-5001,RTP/AVP/TCP;unicast;interleaved=0-1", 1, true, true, false, 5000, 5001},
        {"RTP/AVP;unicast;client_port=5000-5001,RTP/AVP/TCP;unicast;interleaved=0-1", 1, false, true, true, 0, 1},
        {"RTP/AVP;unicast;client_port=5000-5001", 1, false, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        RtspServer::TransportChoice choice;
        ASSERT_EQ(RtspServer::ParseTransport(c.header, c.track, c.udpAllowed, choice), c.accepted) << c.header;
        if (!c.accepted) continue;
        EXPECT_EQ(choice.interleaved, c.interleaved) << c.header;
        EXPECT_EQ(choice.rtp, c.rtp) << c.header;
        EXPECT_EQ(choice.rtcp, c.rtcp) << c.header;
    }
}

TEST_F(CamsimTest, UdpCanBeRefusedOrBlackholedWhileTcpStillStreams) {
    StartCamera();
    UdpSocket rtp, rtcp;
    ASSERT_TRUE(rtp.Bind(0));
    ASSERT_TRUE(rtcp.Bind(0));
    const std::string udp = "RTP/AVP;unicast;client_port=" + std::to_string(rtp.Port()) + "-" + std::to_string(rtcp.Port());
    std::uint8_t buffer[2048];
    Endpoint from;
    auto udpArrives = [&](int ms) {
        while (rtp.Receive(buffer, sizeof buffer, from, 0) > 0) {
        }
        return rtp.Receive(buffer, sizeof buffer, from, ms) > 0;
    };

    ASSERT_EQ(camera->Execute("refuse-udp on"), "OK");
    RawRtspClient refused;
    ASSERT_TRUE(refused.Connect(camera->RtspPort()));
    EXPECT_TRUE(RefusedTransport(refused.Setup(1, udp)));
    EXPECT_TRUE(Accepted(refused.Setup(1, "RTP/AVP/TCP;unicast;interleaved=0-1")));
    ASSERT_EQ(camera->Execute("refuse-udp off"), "OK");

    ASSERT_EQ(camera->Execute("blackhole-udp on"), "OK");
    RawRtspClient dark;
    ASSERT_TRUE(dark.Connect(camera->RtspPort()));
    ASSERT_TRUE(Accepted(dark.Setup(1, udp)));
    ASSERT_TRUE(Accepted(dark.Request("PLAY", dark.Url(1))));
    ASSERT_TRUE(Accepted(refused.Request("PLAY", refused.Url(1))));
    EXPECT_FALSE(udpArrives(600));
    ASSERT_TRUE(refused.Read(100));
    EXPECT_GT(RtpOn(refused.TakeFrames(), 0).size(), 5u);
    const std::string sessions = camera->Execute("sessions");
    EXPECT_NE(sessions.find("=udp/" + std::to_string(rtp.Port()) + "-" + std::to_string(rtcp.Port())), std::string::npos)
        << sessions;
    EXPECT_NE(sessions.find("=tcp/0-1"), std::string::npos) << sessions;

    ASSERT_EQ(camera->Execute("blackhole-udp off"), "OK");
    EXPECT_TRUE(udpArrives(600));
    for (const char* command : {"refuse-udp", "blackhole-udp maybe", "stall-rtsp on off"})
        EXPECT_EQ(camera->Execute(command).substr(0, 3), "ERR") << command;
}

TEST_F(CamsimTest, BadFrameFaultsLandBetweenWholeFrames) {
    StartCamera();
    EXPECT_EQ(camera->Execute("bad-frame garbage").substr(0, 3), "ERR");  // nothing carries RTP inside yet
    RawRtspClient client;
    ASSERT_TRUE(client.Connect(camera->RtspPort()));
    ASSERT_TRUE(Accepted(client.Setup(1, "RTP/AVP/TCP;unicast;interleaved=0-1")));
    ASSERT_TRUE(Accepted(client.Request("PLAY", client.Url(1))));
    struct Case {
        const char* command;
        std::size_t strayBytes;     // bytes that are neither a frame nor an answer
        int oddChannel;             // a channel the frame arrives on other than 0 and 1; -1 none
        std::size_t oddFrameBytes;  // that frame's length
    } cases[] = {
        {"bad-frame garbage", 100, -1, 0},
        {"bad-frame channel", 0, 255, 100},
        {"bad-frame oversize", 0, -1, 65535},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(client.Read(200));
        client.TakeFrames();
        client.strayBytes = 0;
        ASSERT_EQ(camera->Execute(c.command), "OK") << c.command;
        ASSERT_TRUE(client.Read(300));
        std::vector<Frame> frames = client.TakeFrames();
        EXPECT_EQ(client.strayBytes, c.strayBytes) << c.command;
        std::size_t odd = 0, rtp = 0;
        for (const Frame& frame : frames) {
            if (frame.channel == 0 && frame.bytes.size() == 65535) ++odd;
            else if (frame.channel > 1) odd += frame.channel == unsigned(c.oddChannel) && frame.bytes.size() == c.oddFrameBytes;
            else if (frame.channel == 0) rtp += ReadRtp(frame.bytes).valid;
        }
        EXPECT_EQ(odd, c.strayBytes == 0 ? 1u : 0u) << c.command;
        EXPECT_GT(rtp, 3u) << c.command;  // the frames around it stay whole
    }
}

TEST_F(CamsimTest, ClientThatStallsOrStopsReadingNeverHoldsTheCamera) {
    StartCamera();
    RawRtspClient stalled;
    ASSERT_TRUE(stalled.Connect(camera->RtspPort()));
    ASSERT_TRUE(Accepted(stalled.Setup(1, "RTP/AVP/TCP;unicast;interleaved=0-1")));
    ASSERT_TRUE(Accepted(stalled.Request("PLAY", stalled.Url(1))));
    ASSERT_EQ(camera->Execute("stall-rtsp on"), "OK");
    ASSERT_TRUE(stalled.Read(100));
    stalled.TakeFrames();
    stalled.Send("OPTIONS", stalled.Url(1));
    ASSERT_TRUE(stalled.Read(500));
    EXPECT_TRUE(stalled.TakeFrames().empty());
    EXPECT_EQ(stalled.answers.size(), 2u);  // SETUP's and PLAY's only
    ASSERT_EQ(camera->Execute("stall-rtsp off"), "OK");
    ASSERT_TRUE(stalled.Read(300));
    EXPECT_EQ(stalled.answers.size(), 3u);
    EXPECT_FALSE(stalled.TakeFrames().empty());

    // A client that never reads: the camera drops its packets instead of queueing without end,
    // and stops at once.
    RawRtspClient deaf;
    ASSERT_TRUE(deaf.Connect(camera->RtspPort(), 4096));
    deaf.Send("SETUP", deaf.Url(1), "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n");
    ASSERT_TRUE(deaf.Read(200));
    ASSERT_EQ(deaf.answers.size(), 1u);
    ASSERT_TRUE(Accepted(deaf.answers[0]));
    std::string session = deaf.answers[0].substr(deaf.answers[0].find("Session: ") + 9, 12);
    deaf.Send("PLAY", deaf.Url(1), "Session: " + session + "\r\n");
    std::string streams;
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < end && (streams.empty() || streams.find("tcp/2:dropped=0") != std::string::npos)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        streams = camera->Execute("garbage-rtp 200") == "OK" ? camera->Execute("streams") : "";
    }
    EXPECT_EQ(streams.find("tcp/2:dropped=0"), std::string::npos) << streams;
    const auto stopStart = Clock::now();
    camera->Stop();
    EXPECT_LT(Clock::now() - stopStart, std::chrono::seconds(2));
}

}  // namespace
}  // namespace camsim
