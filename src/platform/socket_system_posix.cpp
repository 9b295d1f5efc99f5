#include "platform/socket_system_posix.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

namespace kestrel::platform {

SocketError SocketErrorFromErrno(int error) {
    switch (error) {
    case 0: return SocketError::kNone;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return SocketError::kWouldBlock;
    case ETIMEDOUT: return SocketError::kTimedOut;
    case ECONNREFUSED: return SocketError::kConnectionRefused;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE: return SocketError::kConnectionReset;
    case EBADF:
    case ENOTSOCK:
    case ENOTCONN:
    case ENETDOWN:
    case ESHUTDOWN: return SocketError::kClosed;
    case EADDRINUSE: return SocketError::kAddressInUse;
    case EMSGSIZE: return SocketError::kMessageTruncated;
    case EINTR: return SocketError::kInterrupted;
    default: return SocketError::kOther;
    }
}

SocketError LastSocketError() { return SocketErrorFromErrno(errno); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

SocketError SetIntOption(int fd, int name, std::uint32_t value) {
    const int number = value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(value);
    if (setsockopt(fd, SOL_SOCKET, name, &number, sizeof number) != 0) return LastSocketError();
    return SocketError::kNone;
}

SocketError SetTimeoutOption(int fd, int name, std::uint32_t milliseconds) {
    timeval time{};
    time.tv_sec = static_cast<time_t>(milliseconds / 1000);
    time.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
    if (setsockopt(fd, SOL_SOCKET, name, &time, sizeof time) != 0) return LastSocketError();
    return SocketError::kNone;
}

}  // namespace kestrel::platform
