#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace kestrel::platform {
namespace {

SocketError FromWsaError(int error) {
    switch (error) {
    case 0: return SocketError::kNone;
    case WSAEWOULDBLOCK: return SocketError::kWouldBlock;
    case WSAETIMEDOUT: return SocketError::kTimedOut;
    case WSAECONNREFUSED: return SocketError::kConnectionRefused;
    case WSAECONNRESET:
    case WSAENETRESET:
        return SocketError::kConnectionReset;
    case WSAENOTSOCK:
    case WSAESHUTDOWN:
    case WSAENETDOWN:
    case WSANOTINITIALISED:
    case WSAEFAULT:
        return SocketError::kClosed;
    case WSAEADDRINUSE: return SocketError::kAddressInUse;
    case WSAEMSGSIZE: return SocketError::kMessageTruncated;
    case WSAEINTR: return SocketError::kInterrupted;
    default: return SocketError::kOther;
    }
}

SocketError LastError() { return FromWsaError(WSAGetLastError()); }

SOCKET Native(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

SocketError SetIntOption(std::intptr_t handle, int name, std::uint32_t value) {
    const int number = static_cast<int>(value);
    if (setsockopt(Native(handle), SOL_SOCKET, name, reinterpret_cast<const char*>(&number), sizeof number) != 0)
        return LastError();
    return SocketError::kNone;
}

SocketError SetTimeoutOption(std::intptr_t handle, int name, std::uint32_t milliseconds) {
    // Windows takes the time-out as a DWORD of milliseconds, not a timeval.
    const DWORD value = milliseconds;
    if (setsockopt(Native(handle), SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value) != 0)
        return LastError();
    return SocketError::kNone;
}

}  // namespace

UdpSocket::~UdpSocket() { Close(); }

SocketError UdpSocket::Open() {
    if (IsOpen()) return SocketError::kNone;
    const SOCKET handle = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) return LastError();
    // Without this, an ICMP port-unreachable for anything this socket sent makes the next
    // receive fail with WSAECONNRESET.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(handle, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    m_handle = static_cast<std::intptr_t>(handle);
    return SocketError::kNone;
}

bool UdpSocket::IsOpen() const { return Native(m_handle) != INVALID_SOCKET; }

SocketError UdpSocket::Bind(const Ipv4Endpoint& local) {
    if (!IsOpen()) return SocketError::kClosed;
    const sockaddr_in address = ToSockaddr(local);
    if (bind(Native(m_handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return LastError();
    return SocketError::kNone;
}

SocketError UdpSocket::LocalEndpoint(Ipv4Endpoint& local) const {
    if (!IsOpen()) return SocketError::kClosed;
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(Native(m_handle), reinterpret_cast<sockaddr*>(&address), &size) != 0) return LastError();
    local.address = ntohl(address.sin_addr.s_addr);
    local.port = ntohs(address.sin_port);
    return SocketError::kNone;
}

SocketError UdpSocket::SetReceiveBufferSize(std::uint32_t bytes) { return SetIntOption(m_handle, SO_RCVBUF, bytes); }

SocketError UdpSocket::SetSendBufferSize(std::uint32_t bytes) { return SetIntOption(m_handle, SO_SNDBUF, bytes); }

SocketError UdpSocket::SetSendTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(m_handle, SO_SNDTIMEO, milliseconds);
}

SocketError UdpSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(m_handle, SO_RCVTIMEO, milliseconds);
}

SocketError UdpSocket::WaitReadable(std::uint32_t timeoutMilliseconds) {
    if (!IsOpen()) return SocketError::kClosed;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(m_handle), &readable);
    timeval time{};
    time.tv_sec = static_cast<long>(timeoutMilliseconds / 1000);
    time.tv_usec = static_cast<long>(timeoutMilliseconds % 1000 * 1000);
    const int result = select(0, &readable, nullptr, nullptr, &time);
    if (result == SOCKET_ERROR) {
        // WSAEINVAL comes from a socket that is not bound yet: a receive tells more.
        if (WSAGetLastError() == WSAEINVAL) return SocketError::kNone;
        return LastError();
    }
    if (result == 0) return SocketError::kTimedOut;
    return SocketError::kNone;
}

SocketError UdpSocket::ReceiveFrom(void* buffer, std::size_t capacity, std::size_t& received, Ipv4Endpoint& from) {
    received = 0;
    if (!IsOpen()) return SocketError::kClosed;
    sockaddr_in address{};
    int size = sizeof address;
    const int length = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    const int result = recvfrom(Native(m_handle), static_cast<char*>(buffer), length, 0,
                                reinterpret_cast<sockaddr*>(&address), &size);
    if (result == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAEMSGSIZE) received = capacity;
        return FromWsaError(error);
    }
    received = static_cast<std::size_t>(result);
    from.address = ntohl(address.sin_addr.s_addr);
    from.port = ntohs(address.sin_port);
    return SocketError::kNone;
}

SocketError UdpSocket::SendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) {
    if (!IsOpen()) return SocketError::kClosed;
    if (length > 0x7FFFFFFF) return SocketError::kOther;
    const sockaddr_in address = ToSockaddr(to);
    const int result = sendto(Native(m_handle), static_cast<const char*>(data), static_cast<int>(length), 0,
                              reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result == SOCKET_ERROR) return LastError();
    if (static_cast<std::size_t>(result) != length) return SocketError::kOther;
    return SocketError::kNone;
}

void UdpSocket::Shutdown() {
    if (IsOpen()) shutdown(Native(m_handle), SD_BOTH);
}

void UdpSocket::Close() {
    if (!IsOpen()) return;
    closesocket(Native(m_handle));
    m_handle = static_cast<std::intptr_t>(INVALID_SOCKET);
}

}  // namespace kestrel::platform
