#include "support/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace kestrel::testing {
namespace {

bool Readable(SOCKET s, int timeoutMs) {
    WSAPOLLFD entry{};
    entry.fd = s;
    entry.events = POLLRDNORM;
    return WSAPoll(&entry, 1, timeoutMs) > 0;
}

}  // namespace

SocketHandle ListenLoopback(std::uint16_t& port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle AcceptWithin(SocketHandle listener, int timeoutMs) {
    if (!Readable(static_cast<SOCKET>(listener), timeoutMs)) return kNoSocket;
    SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int ReceiveWithin(SocketHandle socket, char* buffer, int capacity, int timeoutMs) {
    if (!Readable(static_cast<SOCKET>(socket), timeoutMs)) return -1;
    int got = recv(static_cast<SOCKET>(socket), buffer, capacity, 0);
    return got < 0 ? -2 : got;
}

bool SendAll(SocketHandle socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(static_cast<SOCKET>(socket), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) closesocket(static_cast<SOCKET>(socket));
}

}  // namespace kestrel::testing
