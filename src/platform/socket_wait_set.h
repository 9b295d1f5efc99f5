// One wait on sockets that another thread can cut short: a receive thread waits here on its UDP
// sockets (RTP and RTCP of a session) or on its TCP connection, and its owner wakes it to stop
// instead of letting a time-out come round.
//
// Threading: Open, Close and Wait belong to one thread at a time (the waiting one, or the owner
// while none waits); Wake may be called from any thread, also while Wait runs. A Wake that comes
// while nobody waits ends the next Wait at once.
#ifndef QUILLON_PLATFORM_SOCKET_WAIT_SET_H
#define QUILLON_PLATFORM_SOCKET_WAIT_SET_H

#include <cstddef>
#include <cstdint>

#include "platform/socket_error.h"
#include "platform/tcp_socket.h"
#include "platform/udp_socket.h"

namespace kestrel::platform {

class SocketWaitSet {
public:
    // Wait time-out that never expires.
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
    static constexpr std::size_t kMaxSockets = 4;

    SocketWaitSet() = default;
    ~SocketWaitSet();
    SocketWaitSet(const SocketWaitSet&) = delete;
    SocketWaitSet& operator=(const SocketWaitSet&) = delete;

    // Creates the wake channel (POSIX: a pipe; Windows: a loopback datagram socket).
    SocketError Open();
    bool IsOpen() const;
    void Close();

    // Waits until one of `sockets` (at most kMaxSockets, each open) can be read, Wake is called,
    // or `timeoutMs` passes. `readable[i]` tells whether sockets[i] can be read. kNone: something
    // is readable or a wake came (then possibly nothing is readable); kTimedOut; kClosed: a socket
    // or the set is no longer usable; kInterrupted or kOther: a passing failure, wait again.
    // With no sockets it is a pause that Wake ends.
    SocketError Wait(UdpSocket* const* sockets, std::size_t count, std::uint32_t timeoutMs, bool* readable);
    // The same for one connected TCP socket; the peer's close reads as readable.
    SocketError Wait(TcpSocket& socket, std::uint32_t timeoutMs, bool& readable);

    void Wake();

private:
    // The wait itself on `count` native handles, every one of them open.
    SocketError WaitHandles(const std::intptr_t* handles, std::size_t count, std::uint32_t timeoutMs, bool* readable);

    // Wide enough for POSIX descriptors and a Windows SOCKET handle.
    std::intptr_t m_wakeRead = -1;
    std::intptr_t m_wakeWrite = -1;
    std::uint16_t m_wakePort = 0;  // Windows: the wake socket's own loopback port
};

}  // namespace kestrel::platform

#endif
