// Minimal blocking TCP on 127.0.0.1 for the test servers; one implementation file per platform.
#ifndef QUILLON_TESTS_SUPPORT_LOOPBACK_SOCKET_H
#define QUILLON_TESTS_SUPPORT_LOOPBACK_SOCKET_H

#include <cstdint>

namespace kestrel::testing {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Listens on 127.0.0.1 at an ephemeral port, written to `port`.
SocketHandle ListenLoopback(std::uint16_t& port);
// A connection accepted within the time, or kNoSocket.
SocketHandle AcceptWithin(SocketHandle listener, int timeoutMs);
// Bytes received (> 0), 0 when the peer closed, -1 on time-out, -2 on error.
int ReceiveWithin(SocketHandle socket, char* buffer, int capacity, int timeoutMs);
// Bytes of `data` sent (> 0) once the peer has room for some, -1 on time-out, -2 on error.
int SendWithin(SocketHandle socket, const char* data, int size, int timeoutMs);
void CloseSocket(SocketHandle socket);

}  // namespace kestrel::testing

#endif
