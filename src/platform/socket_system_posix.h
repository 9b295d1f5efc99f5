// BSD-socket helpers shared by the POSIX TCP and UDP sockets (included by *_posix.cpp only).
#ifndef QUILLON_PLATFORM_SOCKET_SYSTEM_POSIX_H
#define QUILLON_PLATFORM_SOCKET_SYSTEM_POSIX_H

#include <netinet/in.h>

#include <cstdint>

#include "platform/socket_error.h"
#include "platform/sockets.h"

namespace kestrel::platform {

SocketError SocketErrorFromErrno(int error);
SocketError LastSocketError();
sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint);
// Integer values above INT_MAX are clamped to INT_MAX.
SocketError SetIntOption(int fd, int name, std::uint32_t value);
SocketError SetTimeoutOption(int fd, int name, std::uint32_t milliseconds);

}  // namespace kestrel::platform

#endif
