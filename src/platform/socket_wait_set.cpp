#include "platform/socket_wait_set.h"

namespace kestrel::platform {

SocketError SocketWaitSet::Wait(UdpSocket* const* sockets, std::size_t count, std::uint32_t timeoutMs, bool* readable) {
    if (count > kMaxSockets) return SocketError::kClosed;
    std::intptr_t handles[kMaxSockets] = {};
    for (std::size_t i = 0; i < count; ++i) {
        if (!sockets[i]->IsOpen()) return SocketError::kClosed;
        handles[i] = sockets[i]->m_handle;
    }
    return WaitHandles(handles, count, timeoutMs, readable);
}

SocketError SocketWaitSet::Wait(TcpSocket& socket, std::uint32_t timeoutMs, bool& readable) {
    if (!socket.IsOpen()) return SocketError::kClosed;
    const std::intptr_t handle = static_cast<std::intptr_t>(socket.m_handle);
    return WaitHandles(&handle, 1, timeoutMs, &readable);
}

}  // namespace kestrel::platform
