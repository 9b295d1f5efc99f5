#include "platform/sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace kestrel::platform {

bool SocketsStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void SocketsCleanup() { WSACleanup(); }

bool ResolveIpv4(const std::string& host, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr) return false;
    address = ntohl(reinterpret_cast<sockaddr_in*>(results->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(results);
    return true;
}

}  // namespace kestrel::platform
