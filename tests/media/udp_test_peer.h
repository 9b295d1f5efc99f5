// A loopback UDP socket that plays the camera in transport tests.
#ifndef QUILLON_TESTS_MEDIA_UDP_TEST_PEER_H
#define QUILLON_TESTS_MEDIA_UDP_TEST_PEER_H

#include <cstdint>
#include <vector>

#include "platform/sockets.h"
#include "platform/udp_socket.h"

namespace kestrel::testing_support {

// Starts the socket library for the life of a test.
class SocketsScope {
public:
    SocketsScope() : m_started(platform::SocketsStartup()) {}
    ~SocketsScope() {
        if (m_started) platform::SocketsCleanup();
    }
    bool Started() const { return m_started; }

private:
    bool m_started;
};

class UdpTestPeer {
public:
    // `port` 0 takes a free one.
    explicit UdpTestPeer(std::uint16_t port = 0) {
        m_ok = m_socket.Open() == platform::SocketError::kNone &&
               m_socket.Bind({platform::kIpv4Loopback, port}) == platform::SocketError::kNone &&
               m_socket.LocalEndpoint(m_endpoint) == platform::SocketError::kNone;
    }
    bool Ok() const { return m_ok; }
    platform::Ipv4Endpoint Endpoint() const { return m_endpoint; }

    bool SendTo(std::uint16_t port, const std::vector<std::uint8_t>& data) {
        return m_socket.SendTo(data.data(), data.size(), {platform::kIpv4Loopback, port}) ==
               platform::SocketError::kNone;
    }

    // One datagram within `timeoutMs`; false when none came.
    bool Receive(std::vector<std::uint8_t>& data, std::uint32_t timeoutMs, platform::Ipv4Endpoint* from = nullptr) {
        if (m_socket.WaitReadable(timeoutMs) != platform::SocketError::kNone) return false;
        data.assign(65536, 0);
        std::size_t received = 0;
        platform::Ipv4Endpoint sender;
        if (m_socket.ReceiveFrom(data.data(), data.size(), received, sender) != platform::SocketError::kNone)
            return false;
        data.resize(received);
        if (from) *from = sender;
        return true;
    }

    void Close() { m_socket.Close(); }

private:
    platform::UdpSocket m_socket;
    platform::Ipv4Endpoint m_endpoint;
    bool m_ok = false;
};

}  // namespace kestrel::testing_support

#endif
