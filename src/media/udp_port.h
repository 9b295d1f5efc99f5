// A bound UDP socket with its own receive thread, which hands every datagram, every idle
// interval and the end of the socket to an IUDPPortUser. The same thread can serve one more
// socket, a companion (the session's RTCP socket), so that a session needs one thread for both.
//
// Threading: Open, Close, SetListener, SetCompanion, SetBufferSize and SetSelectTimeout run on
// the owner's threads; the listener and the companion are called on the receive thread, which
// runs above normal priority. Its only wait is woken by Close, so Close returns as soon as a
// callback in progress does. Close joins the receive thread (unless it is called on that thread,
// from a callback), so the listener is not called after Close returns except for its
// OnPortClosed, and the companion not at all. The port must not be destroyed from inside one of
// its own callbacks.
#ifndef QUILLON_MEDIA_UDP_PORT_H
#define QUILLON_MEDIA_UDP_PORT_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/thread.h"
#include "platform/sockets.h"
#include "platform/udp_socket.h"
#include "platform/socket_wait_set.h"

namespace kestrel {

class CUDPPort;

// Implemented by whoever consumes a port's datagrams; it must outlive the port's open period.
class IUDPPortUser {
public:
    virtual ~IUDPPortUser() = default;
    // One datagram; `data` is valid only during the call. The result is not used by the port.
    virtual std::int32_t OnDatagram(CUDPPort* port, const platform::Ipv4Endpoint& fromAddress,
                                    const std::uint8_t* data, std::uint32_t length) = 0;
    // No datagram arrived within the select time-out.
    virtual void OnIdle() = 0;
    // The socket was closed, or failed so that the receive thread ended.
    virtual void OnPortClosed(CUDPPort* port) = 0;
};

// A second socket that a port's receive thread waits on beside its own.
class IUDPPortCompanion {
public:
    virtual ~IUDPPortCompanion() = default;
    // Open for as long as the companion is attached.
    virtual platform::UdpSocket& CompanionSocket() = 0;
    // The socket can be read; on the receive thread. Must not wait for more to arrive.
    virtual void OnCompanionReadable() = 0;
};

enum class UDPPortOpenResult {
    kOpened = 1,              // open, receive thread running
    kAlreadyOpen = 2,         // nothing changed
    kBadAddress = 4,          // address text rejected
    kSocketFailed = 5,        // socket could not be created
    kBindFailed = 6,          // bind failed (socket closed again)
    kBufferOptionFailed = 8,  // receive buffer option failed (socket closed again)
    kThreadFailed = 9,        // receive thread could not be started (socket closed again)
};

class CUDPPort {
public:
    static constexpr std::uint32_t kDefaultBufferSize = 65536;
    static constexpr std::uint32_t kMaxBufferSize = 65536;  // the largest UDP datagram
    static constexpr std::uint32_t kDefaultSelectTimeoutMs = 5000;

    CUDPPort();
    virtual ~CUDPPort();  // closes the port
    CUDPPort(const CUDPPort&) = delete;
    CUDPPort& operator=(const CUDPPort&) = delete;

    // Not owned; set before Open. Null silences the port.
    void SetListener(IUDPPortUser* listener);
    // Size of the buffer one datagram is received into (1 .. 65536); the receive thread
    // picks it up before its next datagram.
    void SetBufferSize(std::uint32_t bytes);
    std::uint32_t GetBufferSize() const { return m_bufferSize.load(); }
    // Serves `companion` from now on, until Close, which detaches it; it must stay valid (its
    // socket open) until then. Call while the port is open.
    void SetCompanion(IUDPPortCompanion* companion);
    // How long without a datagram makes an OnIdle call; 0 means never.
    void SetSelectTimeout(std::uint32_t milliseconds) { m_selectTimeoutMs.store(milliseconds); }

    // `address` is dotted IPv4 text, or null for every local address; port 0 lets the system
    // choose, and GetPort then reports the chosen port. A failed Open leaves the port closed.
    UDPPortOpenResult Open(const char* address, std::uint16_t port);
    bool IsOpen() const;
    // Always true; does nothing on a closed port.
    bool Close();
    // The bound port, 0 when closed.
    std::uint16_t GetPort() const;
    // The socket receive buffer the system granted at the last Open.
    std::uint32_t GetGrantedReceiveBuffer() const { return m_grantedReceiveBuffer.load(); }
    // Datagrams the system dropped on this socket for want of buffer room, where it says so.
    std::uint32_t GetKernelDrops() const { return m_kernelDrops.load(std::memory_order_relaxed); }

private:
    void ReceiveLoop();
    // Receives what the port's socket holds; true when a datagram was handed to the listener.
    bool ReceiveQueued(std::vector<std::uint8_t>& buffer);
    void NotifyIdle();

    // Joins a receive thread left behind by a Close on that thread; called with `guard` held,
    // it releases the lock while it waits.
    void JoinRetiredThread(std::unique_lock<std::mutex>& guard);

    // m_lock guards m_socket's opening and closing, m_port, m_closing and m_thread. The receive
    // thread uses m_socket without it: the socket is closed only after that thread is joined,
    // or by that thread itself.
    mutable std::mutex m_lock;
    std::atomic<IUDPPortUser*> m_listener{nullptr};
    std::atomic<IUDPPortCompanion*> m_companion{nullptr};
    platform::UdpSocket m_socket;
    // Opened with the first Open, kept for the port's life; Close and SetCompanion wake it.
    platform::SocketWaitSet m_waitSet;
    std::uint16_t m_port = 0;
    bool m_closing = false;  // a Close is joining the thread outside the lock
    std::unique_ptr<platform::Thread> m_thread;
    std::atomic<std::uint32_t> m_bufferSize{kDefaultBufferSize};
    std::atomic<std::uint32_t> m_selectTimeoutMs{kDefaultSelectTimeoutMs};
    std::atomic<bool> m_running{false};
    std::atomic<std::uint32_t> m_grantedReceiveBuffer{0};
    std::atomic<std::uint32_t> m_kernelDrops{0};
};

}  // namespace kestrel

#endif
