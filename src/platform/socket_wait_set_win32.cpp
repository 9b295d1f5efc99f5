#include "platform/socket_wait_set.h"

#include <winsock2.h>

#include "platform/socket_system_win32.h"

namespace kestrel::platform {
namespace {

SOCKET Native(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

sockaddr_in Loopback(std::uint16_t port) { return ToSockaddr(Ipv4Endpoint{kIpv4Loopback, port}); }

}  // namespace

SocketWaitSet::~SocketWaitSet() { Close(); }

// select waits on sockets only, and a shutdown does not end it: the wake is a datagram that the
// wake socket sends to itself on the loopback interface.
SocketError SocketWaitSet::Open() {
    if (IsOpen()) return SocketError::kNone;
    const SOCKET wake = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (wake == INVALID_SOCKET) return LastSocketError();
    sockaddr_in address = Loopback(0);
    int size = sizeof address;
    u_long nonBlocking = 1;
    if (bind(wake, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(wake, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ioctlsocket(wake, FIONBIO, &nonBlocking) != 0) {
        const SocketError error = LastSocketError();
        closesocket(wake);
        return error;
    }
    m_wakeRead = m_wakeWrite = static_cast<std::intptr_t>(wake);
    m_wakePort = ntohs(address.sin_port);
    return SocketError::kNone;
}

bool SocketWaitSet::IsOpen() const { return m_wakeRead != -1; }

void SocketWaitSet::Close() {
    if (!IsOpen()) return;
    closesocket(Native(m_wakeRead));
    m_wakeRead = m_wakeWrite = -1;
    m_wakePort = 0;
}

void SocketWaitSet::Wake() {
    if (!IsOpen()) return;
    const char byte = 1;
    const sockaddr_in self = Loopback(m_wakePort);
    sendto(Native(m_wakeWrite), &byte, 1, 0, reinterpret_cast<const sockaddr*>(&self), sizeof self);
}

SocketError SocketWaitSet::WaitHandles(const std::intptr_t* handles, std::size_t count, std::uint32_t timeoutMs,
                                       bool* readable) {
    if (!IsOpen()) return SocketError::kClosed;
    fd_set set;
    FD_ZERO(&set);
    for (std::size_t i = 0; i < count; ++i) {
        readable[i] = false;
        FD_SET(Native(handles[i]), &set);
    }
    FD_SET(Native(m_wakeRead), &set);
    timeval time{};
    time.tv_sec = static_cast<long>(timeoutMs / 1000);
    time.tv_usec = static_cast<long>(timeoutMs % 1000 * 1000);
    const int result = select(0, &set, nullptr, nullptr, timeoutMs == kInfinite ? nullptr : &time);
    if (result == SOCKET_ERROR) return LastSocketError();
    if (result == 0) return SocketError::kTimedOut;
    if (FD_ISSET(Native(m_wakeRead), &set)) {
        // Anyone on this host may send here too; it only costs a needless wake.
        char drain[64];
        while (recv(Native(m_wakeRead), drain, sizeof drain, 0) != SOCKET_ERROR) {
        }
    }
    for (std::size_t i = 0; i < count; ++i) readable[i] = FD_ISSET(Native(handles[i]), &set) != 0;
    return SocketError::kNone;
}

}  // namespace kestrel::platform
