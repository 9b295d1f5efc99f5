// The simulator's own small layer over BSD sockets: 127.0.0.1 listeners, connections with
// bounded waits, and UDP sockets with batched sends. POSIX only, like the simulator.
//
// Every object owns its descriptor; Shutdown() may be called from another thread to end a
// blocked wait, and a Connection may send on one thread while another receives; everything else
// belongs to the owner's thread.
#ifndef QUILLON_TOOLS_CAMSIM_NET_H
#define QUILLON_TOOLS_CAMSIM_NET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct Endpoint {
    std::uint32_t address = 0;  // host order
    std::uint16_t port = 0;
    bool operator==(const Endpoint& other) const { return address == other.address && port == other.port; }
};

constexpr std::uint32_t kLoopback = 0x7F000001;

class Connection {
public:
    Connection() = default;
    explicit Connection(int fd) : m_fd(fd) {}
    ~Connection();
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // Appends what arrives within timeoutMs; false when the peer closed or failed (not on a time-out).
    bool ReceiveSome(std::string& buffer, int timeoutMs, bool& timedOut);
    bool SendAll(const std::string& bytes);
    bool SendAll(const void* data, std::size_t size);
    // Sends what the socket takes without waiting: the bytes sent (0 when it is full), -1 when the
    // connection failed.
    long SendSome(const void* data, std::size_t size);
    Endpoint Peer() const;
    void Shutdown();
    void Close();

private:
    int m_fd = -1;
};

class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port).
    bool Listen(std::uint16_t port);
    std::uint16_t Port() const { return m_port; }
    // Waits up to timeoutMs; an unopened Connection when none came.
    Connection Accept(int timeoutMs);
    void Close();

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// One outgoing datagram: a header and a payload sent together without copying them.
struct Datagram {
    const std::uint8_t* header = nullptr;
    std::size_t headerSize = 0;
    const std::uint8_t* payload = nullptr;
    std::size_t payloadSize = 0;
    Endpoint to;
};

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Bind(std::uint16_t port);  // 127.0.0.1; 0 picks a free port
    std::uint16_t Port() const { return m_port; }
    bool SendTo(const void* data, std::size_t size, const Endpoint& to);
    // Sends the batch with as few system calls as the platform allows; returns how many went out.
    std::size_t SendBatch(const std::vector<Datagram>& batch);
    // Waits up to timeoutMs; the datagram's size, or -1 on a time-out or error.
    int Receive(std::uint8_t* buffer, std::size_t capacity, Endpoint& from, int timeoutMs);
    void Close();

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

std::string FormatEndpoint(const Endpoint& endpoint);

}  // namespace camsim

#endif
