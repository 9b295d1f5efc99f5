// Process-wide socket library start-up and IPv4 addresses shared by the TCP and UDP sockets.
#ifndef QUILLON_PLATFORM_SOCKETS_H
#define QUILLON_PLATFORM_SOCKETS_H

#include <cstdint>
#include <string>

namespace kestrel::platform {

// Windows Sockets 2.2 start-up and clean-up (reference counted by the system); no-ops on POSIX.
// Every successful SocketsStartup needs one SocketsCleanup.
bool SocketsStartup();
void SocketsCleanup();

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const Ipv4Endpoint& other) const {
        return address == other.address && port == other.port;
    }
    bool operator!=(const Ipv4Endpoint& other) const { return !(*this == other); }
};

constexpr std::uint32_t kIpv4Loopback = 0x7F000001;  // 127.0.0.1
constexpr std::uint32_t kIpv4Any = 0;

// Dotted text or a host name to the first IPv4 address the resolver gives; false if none.
bool ResolveIpv4(const std::string& host, std::uint32_t& address);
std::string FormatIpv4(std::uint32_t address);

}  // namespace kestrel::platform

#endif
