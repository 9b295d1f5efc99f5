#include "platform/socket_wait_set.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/sockets.h"

namespace kestrel::platform {
namespace {

using namespace std::chrono_literals;

// A connected pair over loopback: `client` is the one the set waits on.
class TcpWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SocketsStartup());
        ASSERT_EQ(set.Open(), SocketError::kNone);
        ASSERT_EQ(listener.Listen(0, 1), SocketError::kNone);
        ASSERT_EQ(client.Create(), SocketError::kNone);
        ASSERT_EQ(client.Connect({kIpv4Loopback, listener.Port()}, 2000), SocketError::kNone);
        ASSERT_EQ(listener.Accept(server, 2000), SocketError::kNone);
    }
    void TearDown() override {
        client.Close();
        server.Close();
        listener.Close();
        set.Close();
        SocketsCleanup();
    }

    SocketWaitSet set;
    TcpListener listener;
    TcpSocket client;
    TcpSocket server;
};

TEST_F(TcpWaitTest, EndsForDataThePeersCloseOrAWakeAndOtherwiseTimesOut) {
    bool readable = true;
    EXPECT_EQ(set.Wait(client, 30, readable), SocketError::kTimedOut);
    EXPECT_FALSE(readable);

    // A wake that comes before the wait ends it at once, and only once.
    set.Wake();
    EXPECT_EQ(set.Wait(client, SocketWaitSet::kInfinite, readable), SocketError::kNone);
    EXPECT_FALSE(readable);
    EXPECT_EQ(set.Wait(client, 30, readable), SocketError::kTimedOut);

    std::size_t sent = 0;
    ASSERT_EQ(server.Send("$", 1, sent), SocketError::kNone);
    EXPECT_EQ(set.Wait(client, 2000, readable), SocketError::kNone);
    EXPECT_TRUE(readable);
    char byte = 0;
    std::size_t received = 0;
    ASSERT_EQ(client.Receive(&byte, 1, received, 0), SocketError::kNone);

    server.Close();
    EXPECT_EQ(set.Wait(client, 2000, readable), SocketError::kNone);
    EXPECT_TRUE(readable);
    EXPECT_EQ(client.Receive(&byte, 1, received, 0), SocketError::kClosed);

    client.Close();
    EXPECT_EQ(set.Wait(client, 30, readable), SocketError::kClosed);
}

TEST_F(TcpWaitTest, WakeFromAnotherThreadEndsAWaitWithoutTimeOut) {
    bool readable = true;
    std::thread waker([this] {
        std::this_thread::sleep_for(50ms);
        set.Wake();
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(set.Wait(client, SocketWaitSet::kInfinite, readable), SocketError::kNone);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_FALSE(readable);
    waker.join();
}

}  // namespace
}  // namespace kestrel::platform
