// Blocking IPv4 TCP sockets for the RTSP client, and a loopback listener for test peers.
//
// Threading: one thread owns a socket and makes every call on it, except Shutdown(), which
// another thread may call to end a blocked Connect/Receive/Send at once. The owner must not
// Close() while another thread may still call Shutdown(); callers that need both guard them.
// Every failure comes back as a portable SocketError, never as a system error number.
#ifndef QUILLON_PLATFORM_TCP_SOCKET_H
#define QUILLON_PLATFORM_TCP_SOCKET_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/socket_error.h"
#include "platform/sockets.h"

namespace kestrel::platform {

using NativeSocket = std::uintptr_t;
constexpr NativeSocket kInvalidSocket = ~NativeSocket(0);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;

    // A fresh IPv4 stream socket that sends small writes at once (no Nagle delay); closes any
    // socket held before.
    SocketError Create();
    bool IsOpen() const { return m_handle != kInvalidSocket; }

    SocketError SetReceiveBufferSize(std::uint32_t bytes);
    // Bounds each blocking receive (resp. send); 0 means no bound.
    SocketError SetReceiveTimeout(std::uint32_t milliseconds);
    SocketError SetSendTimeout(std::uint32_t milliseconds);

    // Connects without blocking, then polls for completion in rounds of kConnectPollMs,
    // timeoutMs / kConnectPollMs rounds but at least one. `abort`, when given, is checked
    // between rounds and ends the attempt with kInterrupted. The socket is blocking again
    // afterwards. A refused or failed attempt leaves the socket open; the caller closes it.
    SocketError Connect(const Ipv4Endpoint& remote, std::uint32_t timeoutMs,
                        const std::atomic<bool>* abort = nullptr);

    // Sends every byte, looping over partial sends. `sent` tells how many went out.
    SocketError Send(const void* data, std::size_t size, std::size_t& sent);

    // Waits up to timeoutMs for data, then receives what is there (at most `capacity` bytes).
    // kTimedOut when nothing came in time, kClosed when the peer closed (received == 0).
    SocketError Receive(void* buffer, std::size_t capacity, std::size_t& received, std::uint32_t timeoutMs);

    // Ends both directions; a Receive blocked on another thread returns at once.
    void Shutdown();
    void Close();

    static constexpr std::uint32_t kConnectPollMs = 100;

private:
    friend class TcpListener;
    friend class SocketWaitSet;
    explicit TcpSocket(NativeSocket handle) : m_handle(handle) {}

    NativeSocket m_handle = kInvalidSocket;
};

// A listening socket on 127.0.0.1, for in-process test peers.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds 127.0.0.1 on `port` (0: an ephemeral port) and listens with the given backlog.
    SocketError Listen(std::uint16_t port, int backlog);
    std::uint16_t Port() const { return m_port; }

    // Waits up to timeoutMs for a connection.
    SocketError Accept(TcpSocket& accepted, std::uint32_t timeoutMs);
    void Close();

private:
    NativeSocket m_handle = kInvalidSocket;
    std::uint16_t m_port = 0;
};

}  // namespace kestrel::platform

#endif
