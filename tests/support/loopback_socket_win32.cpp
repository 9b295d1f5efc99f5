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

bool Writable(SOCKET s, int timeoutMs) {
    WSAPOLLFD entry{};
    entry.fd = s;
    entry.events = POLLWRNORM;
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

int SendWithin(SocketHandle socket, const char* data, int size, int timeoutMs) {
    SOCKET s = static_cast<SOCKET>(socket);
    if (!Writable(s, timeoutMs)) return -1;
    // Non-blocking for this one call: a blocking send waits until all of `data` is queued.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int n = send(s, data, size, 0);
    const bool wouldBlock = n < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (wouldBlock) return -1;
    return n <= 0 ? -2 : n;
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) closesocket(static_cast<SOCKET>(socket));
}

}  // namespace kestrel::testing
