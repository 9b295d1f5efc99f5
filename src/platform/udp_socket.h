// An IPv4 UDP socket. One thread may wait and receive while another calls Shutdown(); every
// other call, Close() included, belongs to the socket's owner while no other thread uses it.
// Failures come back as portable SocketError codes; kNone is success.
#ifndef QUILLON_PLATFORM_UDP_SOCKET_H
#define QUILLON_PLATFORM_UDP_SOCKET_H

#include <cstddef>
#include <cstdint>

#include "platform/socket_error.h"
#include "platform/sockets.h"

namespace kestrel::platform {

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Creates the socket. On Windows it also turns off the reporting of ICMP port-unreachable
    // as a receive error (SIO_UDP_CONNRESET), so a stray ICMP message cannot end a receiver.
    SocketError Open();
    bool IsOpen() const;

    // Binds to `local` (address kIpv4Any for every local address, port 0 for an ephemeral one).
    SocketError Bind(const Ipv4Endpoint& local);
    // The bound address and port, read back from the system.
    SocketError LocalEndpoint(Ipv4Endpoint& local) const;

    SocketError SetReceiveBufferSize(std::uint32_t bytes);
    // The receive buffer the system granted, which may be less (or, on Linux, twice) what was
    // asked; 0 when it cannot be read.
    std::uint32_t GetReceiveBufferSize() const;
    // Has the system count the datagrams it drops for want of room in the receive buffer, where
    // it can (Linux); DroppedDatagrams then follows that count at each ReceiveFrom.
    void EnableDropCount();
    std::uint32_t DroppedDatagrams() const { return m_dropped; }
    SocketError SetSendBufferSize(std::uint32_t bytes);
    // Upper bound for a blocking send or receive; 0 means none.
    SocketError SetSendTimeout(std::uint32_t milliseconds);
    SocketError SetReceiveTimeout(std::uint32_t milliseconds);
    // Receives return kWouldBlock instead of waiting when nothing is queued.
    SocketError SetNonBlocking();

    // Waits until a datagram can be read. kNone: readable; kTimedOut: nothing within the time;
    // kClosed: the socket is no longer usable (closed, network down, sockets not started);
    // kInterrupted or kOther: a passing failure, the caller may wait again.
    SocketError WaitReadable(std::uint32_t timeoutMilliseconds);

    // Receives one datagram into `buffer`. `received` is its length; a zero-length datagram is
    // success with `received` 0. kMessageTruncated: the datagram was larger than `capacity` and
    // its rest is lost. kClosed: the socket was shut down. kConnectionReset: an ICMP error
    // report, not a failure of the socket.
    SocketError ReceiveFrom(void* buffer, std::size_t capacity, std::size_t& received, Ipv4Endpoint& from);

    SocketError SendTo(const void* data, std::size_t length, const Ipv4Endpoint& to);

    // Ends pending and later receives, for both directions. Safe to call from another thread
    // while one waits or receives; the descriptor stays valid until Close().
    void Shutdown();
    void Close();

private:
    friend class SocketWaitSet;

    // Wide enough for a POSIX descriptor and a Windows SOCKET handle.
    std::intptr_t m_handle = -1;
    std::uint32_t m_dropped = 0;  // the receiving thread's
};

}  // namespace kestrel::platform

#endif
