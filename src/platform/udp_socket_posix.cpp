#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket_system_posix.h"

namespace kestrel::platform {

UdpSocket::~UdpSocket() { Close(); }

SocketError UdpSocket::Open() {
    if (IsOpen()) return SocketError::kNone;
    const int handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (handle < 0) return LastSocketError();
    m_dropped = 0;
    m_handle = handle;
    return SocketError::kNone;
}

bool UdpSocket::IsOpen() const { return m_handle >= 0; }

SocketError UdpSocket::Bind(const Ipv4Endpoint& local) {
    if (!IsOpen()) return SocketError::kClosed;
    const sockaddr_in address = ToSockaddr(local);
    if (bind(static_cast<int>(m_handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return LastSocketError();
    return SocketError::kNone;
}

SocketError UdpSocket::LocalEndpoint(Ipv4Endpoint& local) const {
    if (!IsOpen()) return SocketError::kClosed;
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(static_cast<int>(m_handle), reinterpret_cast<sockaddr*>(&address), &size) != 0) return LastSocketError();
    local.address = ntohl(address.sin_addr.s_addr);
    local.port = ntohs(address.sin_port);
    return SocketError::kNone;
}

SocketError UdpSocket::SetReceiveBufferSize(std::uint32_t bytes) { return SetIntOption(static_cast<int>(m_handle), SO_RCVBUF, bytes); }

std::uint32_t UdpSocket::GetReceiveBufferSize() const {
    int value = 0;
    socklen_t size = sizeof value;
    if (getsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_RCVBUF, &value, &size) != 0) return 0;
    return value > 0 ? static_cast<std::uint32_t>(value) : 0;
}

void UdpSocket::EnableDropCount() {
#ifdef SO_RXQ_OVFL
    const int on = 1;
    setsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
#endif
}

SocketError UdpSocket::SetSendBufferSize(std::uint32_t bytes) { return SetIntOption(static_cast<int>(m_handle), SO_SNDBUF, bytes); }

SocketError UdpSocket::SetSendTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(static_cast<int>(m_handle), SO_SNDTIMEO, milliseconds);
}

SocketError UdpSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(static_cast<int>(m_handle), SO_RCVTIMEO, milliseconds);
}

SocketError UdpSocket::SetNonBlocking() {
    const int fd = static_cast<int>(m_handle);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return LastSocketError();
    return SocketError::kNone;
}

SocketError UdpSocket::WaitReadable(std::uint32_t timeoutMilliseconds) {
    if (!IsOpen()) return SocketError::kClosed;
    // poll, not select: a descriptor number above FD_SETSIZE would overrun an fd_set.
    pollfd entry{};
    entry.fd = static_cast<int>(m_handle);
    entry.events = POLLIN;
    const int timeout = timeoutMilliseconds > 0x7FFFFFFF ? -1 : static_cast<int>(timeoutMilliseconds);
    const int result = poll(&entry, 1, timeout);
    if (result < 0) return LastSocketError();
    if (result == 0) return SocketError::kTimedOut;
    if (entry.revents & POLLNVAL) return SocketError::kClosed;
    // POLLERR (a pending ICMP report) and POLLHUP (shut down) are read by the receive.
    return SocketError::kNone;
}

SocketError UdpSocket::ReceiveFrom(void* buffer, std::size_t capacity, std::size_t& received, Ipv4Endpoint& from) {
    received = 0;
    if (!IsOpen()) return SocketError::kClosed;
    sockaddr_in address{};
    iovec vector{buffer, capacity};
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t result = recvmsg(static_cast<int>(m_handle), &message, 0);
    if (result < 0) return LastSocketError();
#ifdef SO_RXQ_OVFL
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&m_dropped, CMSG_DATA(item), sizeof m_dropped);
        }
    }
#endif
    // After a shutdown every receive returns 0 without a sender; a real empty datagram has one.
    if (result == 0 && message.msg_namelen == 0) return SocketError::kClosed;
    received = static_cast<std::size_t>(result);
    from.address = ntohl(address.sin_addr.s_addr);
    from.port = ntohs(address.sin_port);
    if (message.msg_flags & MSG_TRUNC) return SocketError::kMessageTruncated;
    return SocketError::kNone;
}

SocketError UdpSocket::SendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) {
    if (!IsOpen()) return SocketError::kClosed;
    const sockaddr_in address = ToSockaddr(to);
    const ssize_t result = sendto(static_cast<int>(m_handle), data, length, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result < 0) return LastSocketError();
    if (static_cast<std::size_t>(result) != length) return SocketError::kOther;
    return SocketError::kNone;
}

void UdpSocket::Shutdown() {
    // On an unbound-peer UDP socket this reports ENOTCONN but still wakes waiting threads and
    // makes later receives return at once.
    if (IsOpen()) shutdown(static_cast<int>(m_handle), SHUT_RDWR);
}

void UdpSocket::Close() {
    if (!IsOpen()) return;
    close(static_cast<int>(m_handle));
    m_handle = -1;
}

}  // namespace kestrel::platform
