#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include "platform/socket_system_win32.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace kestrel::platform {
namespace {

SOCKET Native(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

UdpSocket::~UdpSocket() { Close(); }

SocketError UdpSocket::Open() {
    if (IsOpen()) return SocketError::kNone;
    const SOCKET handle = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) return LastSocketError();
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
    if (bind(Native(m_handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return LastSocketError();
    return SocketError::kNone;
}

SocketError UdpSocket::LocalEndpoint(Ipv4Endpoint& local) const {
    if (!IsOpen()) return SocketError::kClosed;
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(Native(m_handle), reinterpret_cast<sockaddr*>(&address), &size) != 0) return LastSocketError();
    local.address = ntohl(address.sin_addr.s_addr);
    local.port = ntohs(address.sin_port);
    return SocketError::kNone;
}

SocketError UdpSocket::SetReceiveBufferSize(std::uint32_t bytes) { return SetIntOption(Native(m_handle), SO_RCVBUF, bytes); }

std::uint32_t UdpSocket::GetReceiveBufferSize() const {
    int value = 0;
    int size = sizeof value;
    if (getsockopt(Native(m_handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &size) != 0) return 0;
    return value > 0 ? static_cast<std::uint32_t>(value) : 0;
}

// Windows Sockets does not report the datagrams it drops.
void UdpSocket::EnableDropCount() {}

SocketError UdpSocket::SetSendBufferSize(std::uint32_t bytes) { return SetIntOption(Native(m_handle), SO_SNDBUF, bytes); }

SocketError UdpSocket::SetSendTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(Native(m_handle), SO_SNDTIMEO, milliseconds);
}

SocketError UdpSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(Native(m_handle), SO_RCVTIMEO, milliseconds);
}

SocketError UdpSocket::SetNonBlocking() {
    u_long nonBlocking = 1;
    if (ioctlsocket(Native(m_handle), FIONBIO, &nonBlocking) != 0) return LastSocketError();
    return SocketError::kNone;
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
        return LastSocketError();
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
        return SocketErrorFromWsa(error);
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
    if (result == SOCKET_ERROR) return LastSocketError();
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
