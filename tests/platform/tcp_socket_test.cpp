#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/tcp_socket.h"

namespace kestrel::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A connected pair over 127.0.0.1.
struct Pair {
    TcpListener listener;
    TcpSocket client;
    TcpSocket server;
    bool ok = false;

    Pair() {
        ok = listener.Listen(0, 1) == SocketError::kNone && client.Create() == SocketError::kNone &&
             client.Connect({kIpv4Loopback, listener.Port()}, 1000) == SocketError::kNone &&
             listener.Accept(server, 1000) == SocketError::kNone;
    }
};

TEST(TcpSocketTest, CarriesBytesAndReportsThePeerClosing) {
    Pair pair;
    ASSERT_TRUE(pair.ok);
    ASSERT_EQ(pair.client.SetReceiveBufferSize(65536), SocketError::kNone);
    ASSERT_EQ(pair.client.SetReceiveTimeout(1000), SocketError::kNone);
    std::string text(100000, 'q');  // larger than one send can take at once
    std::thread writer([&] {
        std::size_t sent = 0;
        EXPECT_EQ(pair.server.Send(text.data(), text.size(), sent), SocketError::kNone);
        EXPECT_EQ(sent, text.size());
        pair.server.Close();
    });
    std::string received;
    char buffer[4096];
    std::size_t count = 0;
    SocketError error;
    while ((error = pair.client.Receive(buffer, sizeof buffer, count, 2000)) == SocketError::kNone)
        received.append(buffer, count);
    writer.join();
    EXPECT_EQ(error, SocketError::kClosed);
    EXPECT_EQ(received, text);
}

TEST(TcpSocketTest, ReceiveEndsOnTimeOutOrShutdown) {
    Pair pair;
    ASSERT_TRUE(pair.ok);
    char buffer[16];
    std::size_t count = 0;
    Clock::time_point start = Clock::now();
    EXPECT_EQ(pair.client.Receive(buffer, sizeof buffer, count, 150), SocketError::kTimedOut);
    long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 1000);

    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        pair.client.Shutdown();
    });
    start = Clock::now();
    EXPECT_EQ(pair.client.Receive(buffer, sizeof buffer, count, 5000), SocketError::kClosed);
    EXPECT_LT(MillisecondsSince(start), 2000);
    stopper.join();
}

TEST(TcpSocketTest, ConnectToAClosedPortIsRefused) {
    TcpListener listener;
    ASSERT_EQ(listener.Listen(0, 1), SocketError::kNone);
    std::uint16_t port = listener.Port();
    listener.Close();
    TcpSocket socket;
    ASSERT_EQ(socket.Create(), SocketError::kNone);
    EXPECT_EQ(socket.Connect({kIpv4Loopback, port}, 1000), SocketError::kConnectionRefused);
}

}  // namespace
}  // namespace kestrel::platform
