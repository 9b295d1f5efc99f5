#include "media/udp_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "media/rtp_receiver.h"
#include "udp_test_peer.h"

namespace kestrel {
namespace {

using testing_support::SocketsScope;
using testing_support::UdpTestPeer;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr auto kWait = 3s;

// Records what the port reports; the test thread waits on it.
class RecordingUser : public IUDPPortUser {
public:
    std::int32_t OnDatagram(CUDPPort* port, const platform::Ipv4Endpoint& from, const std::uint8_t* data,
                            std::uint32_t length) override {
        Bytes copy(data, data + length);
        if (onDatagram) onDatagram(port, copy);
        std::lock_guard<std::mutex> guard(m_lock);
        datagrams.push_back(std::move(copy));
        senders.push_back(from);
        m_changed.notify_all();
        return 1;
    }
    void OnIdle() override {
        std::lock_guard<std::mutex> guard(m_lock);
        ++idles;
        m_changed.notify_all();
    }
    void OnPortClosed(CUDPPort*) override {
        std::lock_guard<std::mutex> guard(m_lock);
        ++closes;
        m_changed.notify_all();
    }

    template <typename Predicate>
    bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout = kWait) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, timeout, [&] { return predicate(); });
    }
    std::size_t DatagramCount() {
        std::lock_guard<std::mutex> guard(m_lock);
        return datagrams.size();
    }

    std::function<void(CUDPPort*, const Bytes&)> onDatagram;  // runs on the receive thread
    std::vector<Bytes> datagrams;
    std::vector<platform::Ipv4Endpoint> senders;
    int idles = 0;
    int closes = 0;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
};

class UDPPortTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sockets.Started());
        ASSERT_TRUE(m_peer.Ok());
        m_port.SetListener(&m_user);
    }

    void OpenLoopback() {
        ASSERT_EQ(m_port.Open("127.0.0.1", 0), UDPPortOpenResult::kOpened);
        ASSERT_NE(m_port.GetPort(), 0);
    }

    SocketsScope m_sockets;
    UdpTestPeer m_peer;
    RecordingUser m_user;
    CUDPPort m_port;
};

TEST_F(UDPPortTest, EphemeralPortReceivesDatagramsWithSender) {
    OpenLoopback();
    EXPECT_TRUE(m_port.IsOpen());
    const Bytes first{1, 2, 3};
    const Bytes second(1500, 0x5A);
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), first));
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), second));
    ASSERT_TRUE(m_user.WaitFor([&] { return m_user.datagrams.size() == 2; }));
    EXPECT_EQ(m_user.datagrams[0], first);
    EXPECT_EQ(m_user.datagrams[1], second);
    EXPECT_EQ(m_user.senders[0], m_peer.Endpoint());
}

TEST_F(UDPPortTest, DatagramsTheSystemDropsAreCountedWhereItSays) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<bool> first{true};
    m_user.onDatagram = [&](CUDPPort*, const Bytes&) {
        if (first.exchange(false)) std::lock_guard<std::mutex> wait(gate);  // a late receive thread
    };
    OpenLoopback();
    EXPECT_GE(m_port.GetGrantedReceiveBuffer(), 65536u);
    const Bytes datagram(1400, 0x33);
    const std::size_t sent = 4000;  // 5.6 MB: more than any receive buffer granted here
    for (std::size_t i = 0; i < sent; ++i) ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), datagram));
    held.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the backlog is read
    const std::size_t received = m_user.DatagramCount();
    // Linux reports its drops, and then every datagram is either received or counted.
    if (m_port.GetKernelDrops() != 0) {
        EXPECT_EQ(received + m_port.GetKernelDrops(), sent);
    }
}

TEST_F(UDPPortTest, OpenRejectsBadAddressesAndSecondOpen) {
    const char* badAddresses[] = {
        "",                   // too short
        "1.2.3",              // three parts
        "1.2.3.4.5",          // five parts
        "256.0.0.1",          // part above 255
        "1.2.3.x",            // not a digit
        "1..2.3",             // empty part
        "0001.2.3.4",         // four digits
        "127.000.000.0001",   // 16 characters
        " 127.0.0.1",         // leading space
    };
    for (const char* address : badAddresses) {
        EXPECT_EQ(m_port.Open(address, 0), UDPPortOpenResult::kBadAddress) << '"' << address << '"';
        EXPECT_FALSE(m_port.IsOpen());
    }
    OpenLoopback();
    const std::uint16_t bound = m_port.GetPort();
    EXPECT_EQ(m_port.Open("127.0.0.1", 0), UDPPortOpenResult::kAlreadyOpen);
    EXPECT_EQ(m_port.GetPort(), bound);
}

TEST_F(UDPPortTest, BindConflictLeavesPortClosedAndReusable) {
    // The peer holds its port, so binding it again fails.
    EXPECT_EQ(m_port.Open("127.0.0.1", m_peer.Endpoint().port), UDPPortOpenResult::kBindFailed);
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.GetPort(), 0);
    OpenLoopback();
    EXPECT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.GetPort(), 0);
    // Reopening after a close gives a working port again.
    OpenLoopback();
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), {7}));
    EXPECT_TRUE(m_user.WaitFor([&] { return m_user.datagrams.size() == 1; }));
}

TEST_F(UDPPortTest, TruncatedDatagramGrowsBufferForTheNext) {
    m_port.SetBufferSize(2000);
    OpenLoopback();
    const Bytes big(2500, 0xC3);
    const Bytes marker{9, 9};
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), big));
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), marker));
    ASSERT_TRUE(m_user.WaitFor([&] { return m_user.datagrams.size() == 1; }));
    // The oversized datagram is dropped, never delivered cut short.
    EXPECT_EQ(m_user.datagrams[0], marker);
    EXPECT_EQ(m_port.GetBufferSize(), 2000u + 1024u);
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), big));
    ASSERT_TRUE(m_user.WaitFor([&] { return m_user.datagrams.size() == 2; }));
    EXPECT_EQ(m_user.datagrams[1], big);
}

TEST_F(UDPPortTest, BadDatagramsDoNotEndReception) {
    // A listener that fails on one datagram loses only that one.
    m_user.onDatagram = [](CUDPPort*, const Bytes& data) {
        if (data.size() == 1) throw std::runtime_error("bad datagram");
    };
    OpenLoopback();
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), {}));  // empty: no end-of-stream signal
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), {1}));
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), {2, 2}));
    ASSERT_TRUE(m_user.WaitFor([&] { return m_user.datagrams.size() == 1; }));
    EXPECT_EQ(m_user.datagrams[0], Bytes({2, 2}));
}

TEST_F(UDPPortTest, IdleReportedAfterSelectTimeout) {
    m_port.SetSelectTimeout(30);
    OpenLoopback();
    EXPECT_TRUE(m_user.WaitFor([&] { return m_user.idles >= 2; }));
}

TEST_F(UDPPortTest, CloseFromInsideCallbackDoesNotWaitForItself) {
    m_user.onDatagram = [](CUDPPort* port, const Bytes&) { port->Close(); };
    OpenLoopback();
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), {1}));
    ASSERT_TRUE(m_user.WaitFor([&] { return m_user.closes == 1; }));
    EXPECT_FALSE(m_port.IsOpen());
    // The thread that closed its own port is joined by the next Open.
    m_user.onDatagram = nullptr;
    OpenLoopback();
    ASSERT_TRUE(m_peer.SendTo(m_port.GetPort(), {2}));
    EXPECT_TRUE(m_user.WaitFor([&] { return m_user.datagrams.size() == 2; }));
}

TEST_F(UDPPortTest, CloseWaitsForCallbackInProgressAndStopsDelivery) {
    std::atomic<bool> inCallback{false};
    std::atomic<bool> callbackDone{false};
    std::atomic<bool> sawOpen{false};
    m_user.onDatagram = [&](CUDPPort* port, const Bytes&) {
        inCallback = true;
        std::this_thread::sleep_for(150ms);
        // Asking the port while Close waits for this callback must not deadlock.
        sawOpen = port->IsOpen();
        callbackDone = true;
    };
    OpenLoopback();
    const std::uint16_t port = m_port.GetPort();
    ASSERT_TRUE(m_peer.SendTo(port, {1}));
    const auto start = std::chrono::steady_clock::now();
    while (!inCallback && std::chrono::steady_clock::now() - start < kWait) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(inCallback);
    m_port.Close();
    EXPECT_TRUE(callbackDone);
    EXPECT_TRUE(sawOpen);
    EXPECT_EQ(m_user.closes, 1);
    m_peer.SendTo(port, {2});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_user.DatagramCount(), 1u);
}

TEST_F(UDPPortTest, CloseOfIdlePortIsPrompt) {
    // Close must wake the thread's wait, not wait out the idle time-out or, with none, forever.
    for (const std::uint32_t idleTimeout : {5000u, 0u}) {
        SCOPED_TRACE(idleTimeout);
        m_port.SetSelectTimeout(idleTimeout);
        OpenLoopback();
        std::this_thread::sleep_for(20ms);
        const auto start = std::chrono::steady_clock::now();
        m_port.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    }
}

// --- RTP receiver on a real port ---

class RecordingRTPUser : public IRTPReceiverUser {
public:
    std::int32_t OnRTPPacket(CRTPReceiver*, const platform::Ipv4Endpoint&, const RTPPacket& packet) override {
        std::lock_guard<std::mutex> guard(m_lock);
        sequences.push_back(packet.sequenceNumber);
        payloads.emplace_back(packet.payload, packet.payload + packet.payloadLength);
        m_changed.notify_all();
        return 1;
    }
    void OnIdle() override {}
    void OnReceiverClosed(CRTPReceiver*) override {
        std::lock_guard<std::mutex> guard(m_lock);
        ++closes;
        m_changed.notify_all();
    }
    bool WaitForPackets(std::size_t count) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, kWait, [&] { return payloads.size() >= count; });
    }

    std::vector<std::uint16_t> sequences;
    std::vector<Bytes> payloads;
    int closes = 0;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
};

Bytes RtpDatagram(std::uint16_t sequence, const Bytes& payload, std::uint8_t byte0 = 0x80) {
    const std::uint8_t header[12] = {byte0, 96, std::uint8_t(sequence >> 8), std::uint8_t(sequence), 0, 0, 0, 1,
                                     0,     0,  0,                          2};
    Bytes datagram(sizeof header + payload.size());
    std::copy(std::begin(header), std::end(header), datagram.begin());
    std::copy(payload.begin(), payload.end(), datagram.begin() + sizeof header);
    return datagram;
}

TEST(RTPReceiverTest, DeliversLargeDatagramWholeAndDropsNonRtp) {
    SocketsScope sockets;
    UdpTestPeer peer;
    ASSERT_TRUE(peer.Ok());
    RecordingRTPUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_EQ(receiver.GetPort().Open("127.0.0.1", 0), UDPPortOpenResult::kOpened);
    const std::uint16_t port = receiver.GetPort().GetPort();

    Bytes big(60000 - 12);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(peer.SendTo(port, RtpDatagram(0xFFFF, big)));
    ASSERT_TRUE(peer.SendTo(port, RtpDatagram(1, {1}, 0x40)));  // version 1: dropped
    ASSERT_TRUE(peer.SendTo(port, RtpDatagram(0, {2})));
    ASSERT_TRUE(user.WaitForPackets(2));
    // The first large datagram is not lost to a small start buffer.
    EXPECT_EQ(user.payloads[0], big);
    EXPECT_EQ(user.sequences, std::vector<std::uint16_t>({0xFFFF, 0}));

    // With the user cleared first, closing reaches nobody.
    receiver.SetUser(nullptr);
    receiver.GetPort().Close();
    EXPECT_EQ(user.closes, 0);
}

}  // namespace
}  // namespace kestrel
