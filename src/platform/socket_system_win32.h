// Windows Sockets helpers shared by the Windows TCP and UDP sockets (included by *_win32.cpp only).
#ifndef QUILLON_PLATFORM_SOCKET_SYSTEM_WIN32_H
#define QUILLON_PLATFORM_SOCKET_SYSTEM_WIN32_H

#include <winsock2.h>

#include <cstdint>

#include "platform/socket_error.h"
#include "platform/sockets.h"

namespace kestrel::platform {

SocketError SocketErrorFromWsa(int error);
SocketError LastSocketError();
sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint);
// Integer values above INT_MAX are clamped to INT_MAX.
SocketError SetIntOption(SOCKET socket, int name, std::uint32_t value);
SocketError SetTimeoutOption(SOCKET socket, int name, std::uint32_t milliseconds);

}  // namespace kestrel::platform

#endif
