#include "support/loopback_socket.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::testing {
namespace {

bool Readable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

bool Writable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLOUT, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

}  // namespace

SocketHandle ListenLoopback(std::uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return fd;
}

SocketHandle AcceptWithin(SocketHandle listener, int timeoutMs) {
    if (!Readable(static_cast<int>(listener), timeoutMs)) return kNoSocket;
    int fd = accept(static_cast<int>(listener), nullptr, nullptr);
    return fd < 0 ? kNoSocket : fd;
}

int ReceiveWithin(SocketHandle socket, char* buffer, int capacity, int timeoutMs) {
    if (!Readable(static_cast<int>(socket), timeoutMs)) return -1;
    ssize_t got = recv(static_cast<int>(socket), buffer, static_cast<size_t>(capacity), 0);
    return got < 0 ? -2 : static_cast<int>(got);
}

int SendWithin(SocketHandle socket, const char* data, int size, int timeoutMs) {
    if (!Writable(static_cast<int>(socket), timeoutMs)) return -1;
    ssize_t n = send(static_cast<int>(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
    return n <= 0 ? -2 : static_cast<int>(n);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) close(static_cast<int>(socket));
}

}  // namespace kestrel::testing
