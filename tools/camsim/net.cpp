#include "camsim/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace camsim {

// One of udp_batch_sendmmsg.cpp or udp_batch_sendmsg.cpp, chosen by the build.
std::size_t SendBatchOn(int fd, const std::vector<Datagram>& batch);

namespace {

sockaddr_in ToSockaddr(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

Endpoint FromSockaddr(const sockaddr_in& address) {
    return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    int result;
    do {
        result = poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

int BindLoopback(int type, std::uint16_t port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = ToSockaddr({kLoopback, port});
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string FormatEndpoint(const Endpoint& endpoint) {
    return std::to_string(endpoint.address >> 24) + "." + std::to_string((endpoint.address >> 16) & 0xFF) + "." +
           std::to_string((endpoint.address >> 8) & 0xFF) + "." + std::to_string(endpoint.address & 0xFF) + ":" +
           std::to_string(endpoint.port);
}

Connection::~Connection() { Close(); }

Connection::Connection(Connection&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool Connection::ReceiveSome(std::string& buffer, int timeoutMs, bool& timedOut) {
    timedOut = false;
    if (m_fd < 0) return false;
    if (!WaitReadable(m_fd, timeoutMs)) {
        timedOut = true;
        return true;
    }
    char chunk[8192];
    ssize_t received;
    do {
        received = recv(m_fd, chunk, sizeof chunk, 0);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(received));
    return true;
}

bool Connection::SendAll(const std::string& bytes) { return SendAll(bytes.data(), bytes.size()); }

bool Connection::SendAll(const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0 && m_fd >= 0) {
        ssize_t sent = send(m_fd, next, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        next += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return size == 0;
}

long Connection::SendSome(const void* data, std::size_t size) {
    if (m_fd < 0) return -1;
    ssize_t sent;
    do {
        sent = send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return static_cast<long>(sent);
}

Endpoint Connection::Peer() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (m_fd < 0 || getpeername(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return FromSockaddr(address);
}

void Connection::Shutdown() {
    if (m_fd >= 0) shutdown(m_fd, SHUT_RDWR);
}

void Connection::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

Listener::~Listener() { Close(); }

bool Listener::Listen(std::uint16_t port) {
    Close();
    m_fd = BindLoopback(SOCK_STREAM, port);
    if (m_fd < 0) return false;
    if (listen(m_fd, 512) != 0) {
        Close();
        return false;
    }
    m_port = BoundPort(m_fd);
    return true;
}

Connection Listener::Accept(int timeoutMs) {
    if (m_fd < 0 || !WaitReadable(m_fd, timeoutMs)) return Connection();
    const int fd = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    // Answers go out at once, not behind the acknowledgement of the media before them.
    const int on = 1;
    if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return Connection(fd);
}

void Listener::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

UdpSocket::~UdpSocket() { Close(); }

bool UdpSocket::Bind(std::uint16_t port) {
    Close();
    m_fd = BindLoopback(SOCK_DGRAM, port);
    if (m_fd < 0) return false;
    // Room for the bursts of a whole frame to many sessions.
    int bytes = 4 * 1024 * 1024;
    setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    m_port = BoundPort(m_fd);
    return true;
}

bool UdpSocket::SendTo(const void* data, std::size_t size, const Endpoint& to) {
    sockaddr_in address = ToSockaddr(to);
    return sendto(m_fd, data, size, 0, reinterpret_cast<sockaddr*>(&address), sizeof address) ==
           static_cast<ssize_t>(size);
}

int UdpSocket::Receive(std::uint8_t* buffer, std::size_t capacity, Endpoint& from, int timeoutMs) {
    if (m_fd < 0 || !WaitReadable(m_fd, timeoutMs)) return -1;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ssize_t received = recvfrom(m_fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&address), &length);
    if (received < 0) return -1;
    from = FromSockaddr(address);
    return static_cast<int>(received);
}

std::size_t UdpSocket::SendBatch(const std::vector<Datagram>& batch) { return SendBatchOn(m_fd, batch); }

void UdpSocket::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

}  // namespace camsim
