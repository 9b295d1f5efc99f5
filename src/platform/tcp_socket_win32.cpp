#include "platform/tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/socket_system_win32.h"

namespace kestrel::platform {
namespace {

SOCKET Handle(NativeSocket handle) { return static_cast<SOCKET>(handle); }

bool SetBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

enum class Wait { kRead, kWrite };

// 1 ready, 0 timed out, -1 error. A failed non-blocking connect is reported in the
// exception set only, so that set is watched too when waiting for writability.
int WaitFor(SOCKET socket, Wait what, std::uint32_t timeoutMs) {
    fd_set primary;
    fd_set failed;
    FD_ZERO(&primary);
    FD_ZERO(&failed);
    FD_SET(socket, &primary);
    FD_SET(socket, &failed);
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int result = what == Wait::kRead ? select(0, &primary, nullptr, nullptr, &timeout)
                                     : select(0, nullptr, &primary, &failed, &timeout);
    if (result == SOCKET_ERROR) return -1;
    return result > 0 ? 1 : 0;
}

}  // namespace

SocketError TcpSocket::Create() {
    Close();
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return LastSocketError();
    m_handle = static_cast<NativeSocket>(socket);
    // Requests and interleaved RTCP are small writes that wait for an answer: with Nagle's
    // algorithm the second of two (the BYE, then TEARDOWN) waits for a delayed acknowledgement.
    const BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return SocketError::kNone;
}

SocketError TcpSocket::SetReceiveBufferSize(std::uint32_t bytes) {
    return SetIntOption(Handle(m_handle), SO_RCVBUF, bytes);
}

SocketError TcpSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(Handle(m_handle), SO_RCVTIMEO, milliseconds);
}

SocketError TcpSocket::SetSendTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(Handle(m_handle), SO_SNDTIMEO, milliseconds);
}

SocketError TcpSocket::Connect(const Ipv4Endpoint& remote, std::uint32_t timeoutMs, const std::atomic<bool>* abort) {
    if (!IsOpen()) return SocketError::kClosed;
    SOCKET socket = Handle(m_handle);
    if (!SetBlocking(socket, false)) return LastSocketError();
    sockaddr_in address = ToSockaddr(remote);
    SocketError result = SocketError::kNone;
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
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
                int ready = WaitFor(socket, Wait::kWrite, kConnectPollMs);
                if (ready < 0) {
                    result = LastSocketError();
                    break;
                }
                if (ready > 0) {
                    // Ready means finished, not necessarily connected: the outcome is in SO_ERROR.
                    int error = 0;
                    int length = sizeof error;
                    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
                        error = WSAGetLastError();
                    result = error == 0 ? SocketError::kNone : SocketErrorFromWsa(error);
                    if (result == SocketError::kWouldBlock) result = SocketError::kOther;
                    break;
                }
            }
        }
    }
    if (!SetBlocking(socket, true) && result == SocketError::kNone) result = LastSocketError();
    return result;
}

SocketError TcpSocket::Send(const void* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    if (!IsOpen()) return SocketError::kClosed;
    const char* bytes = static_cast<const char*>(data);
    while (sent < size) {
        std::size_t remaining = size - sent;
        int piece = remaining > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(remaining);
        int result = send(Handle(m_handle), bytes + sent, piece, 0);
        if (result == SOCKET_ERROR) {
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
    int ready = WaitFor(Handle(m_handle), Wait::kRead, timeoutMs);
    if (ready < 0) return LastSocketError();
    if (ready == 0) return SocketError::kTimedOut;
    int piece = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    int result = recv(Handle(m_handle), static_cast<char*>(buffer), piece, 0);
    if (result == SOCKET_ERROR) {
        SocketError error = LastSocketError();
        return error == SocketError::kWouldBlock ? SocketError::kTimedOut : error;
    }
    received = static_cast<std::size_t>(result);
    return result == 0 ? SocketError::kClosed : SocketError::kNone;
}

void TcpSocket::Shutdown() {
    if (IsOpen()) shutdown(Handle(m_handle), SD_BOTH);
}

void TcpSocket::Close() {
    if (!IsOpen()) return;
    closesocket(Handle(m_handle));
    m_handle = kInvalidSocket;
}

SocketError TcpListener::Listen(std::uint16_t port, int backlog) {
    Close();
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return LastSocketError();
    m_handle = static_cast<NativeSocket>(socket);
    sockaddr_in address = ToSockaddr({kIpv4Loopback, port});
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        listen(socket, backlog) == SOCKET_ERROR) {
        SocketError error = LastSocketError();
        Close();
        return error;
    }
    int length = sizeof address;
    getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    return SocketError::kNone;
}

SocketError TcpListener::Accept(TcpSocket& accepted, std::uint32_t timeoutMs) {
    if (m_handle == kInvalidSocket) return SocketError::kClosed;
    int ready = WaitFor(Handle(m_handle), Wait::kRead, timeoutMs);
    if (ready < 0) return LastSocketError();
    if (ready == 0) return SocketError::kTimedOut;
    SOCKET socket = accept(Handle(m_handle), nullptr, nullptr);
    if (socket == INVALID_SOCKET) return LastSocketError();
    accepted = TcpSocket(static_cast<NativeSocket>(socket));
    return SocketError::kNone;
}

void TcpListener::Close() {
    if (m_handle == kInvalidSocket) return;
    closesocket(Handle(m_handle));
    m_handle = kInvalidSocket;
    m_port = 0;
}

}  // namespace kestrel::platform
