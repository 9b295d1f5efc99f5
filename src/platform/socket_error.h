// Portable outcome of a socket operation. The platform files map errno / WSAGetLastError()
// onto these codes; nothing above src/platform/ sees a raw system error number.
#ifndef QUILLON_PLATFORM_SOCKET_ERROR_H
#define QUILLON_PLATFORM_SOCKET_ERROR_H

namespace kestrel::platform {

enum class SocketError {
    kNone,
    kWouldBlock,         // non-blocking operation not finished yet
    kTimedOut,           // a receive, send or connect time-out passed
    kConnectionRefused,  // TCP RST on connect, or ICMP port unreachable seen on UDP
    kConnectionReset,    // peer reset an established connection (WSAECONNRESET on UDP too)
    kClosed,             // orderly shutdown by the peer, or the socket was closed or shut down locally
    kHostNotFound,       // name resolution found no IPv4 address
    kAddressInUse,       // bind: the port is taken
    kMessageTruncated,   // a datagram was larger than the receive buffer
    kInterrupted,        // a signal or a local abort ended the call
    kOther,
};

const char* SocketErrorName(SocketError error);

}  // namespace kestrel::platform

#endif
