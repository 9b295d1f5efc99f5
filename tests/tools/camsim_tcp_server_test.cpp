// The simulator's TCP server under many connections, as a 32-bit process with 2 GiB of address
// space meets them: a driver that reconnects at once, hundreds of cameras held open, and a
// port moved while clients come and go.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim/tcp_server.h"

namespace camsim {
namespace {

Connection Connect(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    address.sin_port = htons(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return Connection(fd);
}

// What the server says to `connection` within two seconds; empty once it closed the connection.
std::string Greeting(Connection& connection) {
    std::string received;
    bool timedOut = false;
    for (int i = 0; i < 20 && received.empty(); ++i)
        if (!connection.ReceiveSome(received, 100, timedOut)) break;
    return received;
}

bool ClosedByServer(Connection& connection) {
    std::string received;
    bool timedOut = false;
    for (int i = 0; i < 20; ++i)
        if (!connection.ReceiveSome(received, 100, timedOut)) return received.empty();
    return false;
}

// The accessible address space this process has mapped (under qemu-user, the guest's own
// mappings). Inaccessible reservations are left out: a 64-bit malloc reserves 64 MiB for each
// thread arena, a 32-bit one 1 MiB.
std::int64_t MappedBytes() {
    std::ifstream maps("/proc/self/maps");
    std::int64_t total = 0;
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::uint64_t begin = 0, end = 0;
        char dash = 0;
        std::string permissions;
        fields >> std::hex >> begin >> dash >> end >> permissions;
        if (permissions.compare(0, 3, "---") != 0) total += static_cast<std::int64_t>(end - begin);
    }
    return total;
}

constexpr std::int64_t kMiB = 1024 * 1024;

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;  // it keeps megabytes of its own for every live thread
#else
constexpr bool kThreadSanitizer = false;
#endif

// Greets, then holds the connection until the peer leaves or the server stops.
void GreetAndHold(Connection& connection, const std::atomic<bool>& stopping) {
    if (!connection.SendAll("hello\n")) return;
    std::string ignored;
    bool timedOut = false;
    while (!stopping && connection.ReceiveSome(ignored, 100, timedOut)) ignored.clear();
}

TEST(CamsimTcpServerTest, ManyConnectionsFitIn32BitAddressSpace) {
    TcpServer server(GreetAndHold);
    ASSERT_TRUE(server.Start(0));

    // Cameras held open at once: each connection's thread costs its stack.
    const std::int64_t before = MappedBytes();
    std::vector<Connection> held;
    for (int i = 0; i < 200; ++i) {
        held.push_back(Connect(server.Port()));
        ASSERT_EQ(Greeting(held.back()), "hello\n") << "connection " << i;
    }
    if (!kThreadSanitizer) {
        EXPECT_LT(MappedBytes() - before, 100 * kMiB) << "200 open connections";
    }
    held.clear();

    // A client that reconnects as soon as it is dropped never lets the accept wait time out;
    // the finished threads must still be joined and their stacks freed.
    const std::int64_t settled = MappedBytes();
    for (int i = 0; i < 1000; ++i) {
        Connection connection = Connect(server.Port());
        ASSERT_EQ(Greeting(connection), "hello\n") << "reconnection " << i;
    }
    EXPECT_LT(MappedBytes() - settled, 40 * kMiB) << "1000 reconnections";
    server.Stop();
}

TEST(CamsimTcpServerTest, ConnectionsBeyondTheBoundOrWithoutAThreadAreRefused) {
    struct Case {
        const char* name;
        TcpServerLimits limits;
        int served;  // connections greeted before the rest are refused
    } cases[] = {
        {"bound of three", {3, kDefaultConnectionStack}, 3},
        // No address space can hold this stack, so no connection thread can start.
        {"no thread starts", {8, SIZE_MAX / 4 * 3}, 0},
    };
    for (const Case& c : cases) {
        TcpServer server(GreetAndHold, c.limits);
        ASSERT_TRUE(server.Start(0)) << c.name;
        std::vector<Connection> held;
        for (int i = 0; i < c.served; ++i) {
            held.push_back(Connect(server.Port()));
            EXPECT_EQ(Greeting(held.back()), "hello\n") << c.name;
        }
        Connection refused = Connect(server.Port());
        EXPECT_TRUE(ClosedByServer(refused)) << c.name;
        if (!held.empty()) {
            held.front().Close();  // room again once one leaves
            for (int i = 0; i < 20 && server.OpenConnections() == held.size(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Connection next = Connect(server.Port());
            EXPECT_EQ(Greeting(next), "hello\n") << c.name;
        }
        server.Stop();
    }
}

TEST(CamsimTcpServerTest, RelistenDoesNotWaitForTheAcceptPoll) {
    TcpServer server(GreetAndHold);
    ASSERT_TRUE(server.Start(0));
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < 20; ++i) {
        Listener probe;
        ASSERT_TRUE(probe.Listen(0));
        ports.push_back(probe.Port());
    }
    const std::uint16_t first = server.Port();
    Connection greeted = Connect(first);  // the accept loop is running
    ASSERT_EQ(Greeting(greeted), "hello\n");
    std::chrono::steady_clock::duration took{};
    for (std::uint16_t port : ports) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the accept loop is in its poll
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(server.Relisten(port));
        took += std::chrono::steady_clock::now() - started;
    }
    // Each accept poll lasts up to 100 ms; twenty moves must not wait for them.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 500);
    EXPECT_EQ(server.Port(), ports.back());
    Connection moved = Connect(ports.back());
    EXPECT_EQ(Greeting(moved), "hello\n");
    ASSERT_TRUE(server.Relisten(first));  // and back
    Connection back = Connect(first);
    EXPECT_EQ(Greeting(back), "hello\n");
    server.Stop();
}

}  // namespace
}  // namespace camsim
