#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket_system_posix.h"

namespace kestrel::platform {
namespace {

int Fd(NativeSocket handle) { return static_cast<int>(handle); }

bool SetBlocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

// 1 ready, 0 timed out, -1 error. Retries after signals.
int WaitFor(int fd, short events, std::uint32_t timeoutMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        int result = poll(&entry, 1, static_cast<int>(timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : timeoutMs));
        if (result < 0 && errno == EINTR) continue;
        return result < 0 ? -1 : (result > 0 ? 1 : 0);
    }
}

}  // namespace

SocketError TcpSocket::Create() {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) return LastSocketError();
    m_handle = static_cast<NativeSocket>(fd);
    // Requests and interleaved RTCP are small writes that wait for an answer: with Nagle's
    // algorithm the second of two (the BYE, then TEARDOWN) waits for a delayed acknowledgement.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return SocketError::kNone;
}

SocketError TcpSocket::SetReceiveBufferSize(std::uint32_t bytes) {
    return SetIntOption(Fd(m_handle), SO_RCVBUF, bytes);
}

SocketError TcpSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(Fd(m_handle), SO_RCVTIMEO, milliseconds);
}

SocketError TcpSocket::SetSendTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(Fd(m_handle), SO_SNDTIMEO, milliseconds);
}

SocketError TcpSocket::Connect(const Ipv4Endpoint& remote, std::uint32_t timeoutMs, const std::atomic<bool>* abort) {
    if (!IsOpen()) return SocketError::kClosed;
    int fd = Fd(m_handle);
    if (!SetBlocking(fd, false)) return LastSocketError();
    sockaddr_in address = ToSockaddr(remote);
    SocketError result = SocketError::kNone;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        result = LastSocketError();
        if (result == SocketError::kWouldBlock) {
            result = SocketError::kTimedOut;
            std::uint32_t rounds = timeoutMs / kConnectPollMs;
            if (rounds == 0) rounds = 1;
            for (std::uint32_t round = 0; round < rounds; ++round) {
                if (abort != nullptr && abort->load()) {
                    result = SocketError::kInterrupted;
                    break;
                }
                int ready = WaitFor(fd, POLLOUT, kConnectPollMs);
                if (ready < 0) {
                    result = LastSocketError();
                    break;
                }
                if (ready > 0) {
                    // Writable means finished, not necessarily connected: the outcome is in SO_ERROR.
                    int error = 0;
                    socklen_t length = sizeof error;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
                    result = error == 0 ? SocketError::kNone : SocketErrorFromErrno(error);
                    if (result == SocketError::kWouldBlock) result = SocketError::kOther;
                    break;
                }
            }
        }
    }
    if (!SetBlocking(fd, true) && result == SocketError::kNone) result = LastSocketError();
    return result;
}

SocketError TcpSocket::Send(const void* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    if (!IsOpen()) return SocketError::kClosed;
    const char* bytes = static_cast<const char*>(data);
    while (sent < size) {
        int flags = 0;
#ifdef MSG_NOSIGNAL
        flags = MSG_NOSIGNAL;  // a peer that went away must not raise SIGPIPE in the host process
#endif
        ssize_t result = send(Fd(m_handle), bytes + sent, size - sent, flags);
        if (result < 0) {
            if (errno == EINTR) continue;
            SocketError error = LastSocketError();
            return error == SocketError::kWouldBlock ? SocketError::kTimedOut : error;
        }
        sent += static_cast<std::size_t>(result);
    }
    return SocketError::kNone;
}

SocketError TcpSocket::Receive(void* buffer, std::size_t capacity, std::size_t& received, std::uint32_t timeoutMs) {
    received = 0;
    if (!IsOpen()) return SocketError::kClosed;
    int ready = WaitFor(Fd(m_handle), POLLIN, timeoutMs);
    if (ready < 0) return LastSocketError();
    if (ready == 0) return SocketError::kTimedOut;
    for (;;) {
        ssize_t result = recv(Fd(m_handle), buffer, capacity, 0);
        if (result < 0) {
            if (errno == EINTR) continue;
            SocketError error = LastSocketError();
            return error == SocketError::kWouldBlock ? SocketError::kTimedOut : error;
        }
        received = static_cast<std::size_t>(result);
        return result == 0 ? SocketError::kClosed : SocketError::kNone;
    }
}

void TcpSocket::Shutdown() {
    if (IsOpen()) shutdown(Fd(m_handle), SHUT_RDWR);
}

void TcpSocket::Close() {
    if (!IsOpen()) return;
    close(Fd(m_handle));
    m_handle = kInvalidSocket;
}

SocketError TcpListener::Listen(std::uint16_t port, int backlog) {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) return LastSocketError();
    m_handle = static_cast<NativeSocket>(fd);
    sockaddr_in address = ToSockaddr({kIpv4Loopback, port});
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0) {
        SocketError error = LastSocketError();
        Close();
        return error;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    return SocketError::kNone;
}

SocketError TcpListener::Accept(TcpSocket& accepted, std::uint32_t timeoutMs) {
    if (m_handle == kInvalidSocket) return SocketError::kClosed;
    int ready = WaitFor(Fd(m_handle), POLLIN, timeoutMs);
    if (ready < 0) return LastSocketError();
    if (ready == 0) return SocketError::kTimedOut;
    int fd = accept(Fd(m_handle), nullptr, nullptr);
    if (fd < 0) return LastSocketError();
    accepted = TcpSocket(static_cast<NativeSocket>(fd));
    return SocketError::kNone;
}

void TcpListener::Close() {
    if (m_handle == kInvalidSocket) return;
    close(Fd(m_handle));
    m_handle = kInvalidSocket;
    m_port = 0;
}

}  // namespace kestrel::platform
