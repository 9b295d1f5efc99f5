#include "platform/socket_system_win32.h"

namespace kestrel::platform {

SocketError SocketErrorFromWsa(int error) {
    switch (error) {
    case 0: return SocketError::kNone;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY: return SocketError::kWouldBlock;
    case WSAETIMEDOUT: return SocketError::kTimedOut;
    case WSAECONNREFUSED: return SocketError::kConnectionRefused;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET: return SocketError::kConnectionReset;
    case WSAENOTSOCK:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
    case WSAENETDOWN:
    case WSANOTINITIALISED:
    case WSAEFAULT: return SocketError::kClosed;
    case WSAEADDRINUSE: return SocketError::kAddressInUse;
    case WSAEMSGSIZE: return SocketError::kMessageTruncated;
    case WSAEINTR: return SocketError::kInterrupted;
    default: return SocketError::kOther;
    }
}

SocketError LastSocketError() { return SocketErrorFromWsa(WSAGetLastError()); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

SocketError SetIntOption(SOCKET socket, int name, std::uint32_t value) {
    const int number = value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(value);
    if (setsockopt(socket, SOL_SOCKET, name, reinterpret_cast<const char*>(&number), sizeof number) != 0)
        return LastSocketError();
    return SocketError::kNone;
}

SocketError SetTimeoutOption(SOCKET socket, int name, std::uint32_t milliseconds) {
    // Windows takes the time-out as a DWORD of milliseconds, not a timeval.
    const DWORD value = milliseconds;
    if (setsockopt(socket, SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value) != 0)
        return LastSocketError();
    return SocketError::kNone;
}

}  // namespace kestrel::platform
