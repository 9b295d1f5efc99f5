// Keeps a camera's RTP session alive from the receiving side: binds the session's RTCP port
// and answers every well-formed RTCP packet from the camera's RTCP port with a Receiver Report
// and a Source Description carrying a CNAME (RFC 3550 6.4.2, 6.5); sends a BYE there when it
// stops. It keeps no reception statistics. Datagrams from anywhere else, and malformed ones,
// are dropped and reported through the settings' callbacks; none of them ends the responder.
//
// It has no thread of its own: it is the companion of the session's RTP port, whose receive
// thread calls OnCompanionReadable, so a session costs one receive thread for RTP and RTCP.
//
// Threading: Start and Stop are called by the owner (the session channel's worker), Start before
// the responder is attached to a port, Stop after that port was closed (which detaches it).
// SetCameraPort may come at any time. In between, the port's receive thread is the only user of
// the socket and the only caller of the callbacks.
#ifndef QUILLON_MEDIA_RTCP_RESPONDER_H
#define QUILLON_MEDIA_RTCP_RESPONDER_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "media/random_source.h"
#include "media/udp_port.h"
#include "platform/sockets.h"
#include "platform/udp_socket.h"

namespace kestrel {

constexpr std::size_t kRTCPReceiverReportLength = 32;
constexpr std::size_t kRTCPSourceDescriptionLength = 36;
constexpr std::size_t kRTCPAnswerLength = kRTCPReceiverReportLength + kRTCPSourceDescriptionLength;
constexpr std::size_t kRTCPByeLength = 8;
// The CNAME item's text room in the fixed-size description, and the longest CNAME that fits
// it with the zero octet that ends the item list.
constexpr std::size_t kRTCPCnameFieldLength = 26;
constexpr std::size_t kRTCPMaxCnameLength = kRTCPCnameFieldLength - 1;
// True for a compound RTCP packet that passes RFC 3550 A.2's checks: every packet of version 2,
// the first a Sender or Receiver Report long enough for its report blocks and without padding,
// only the last one padded, and the packets' lengths adding up to the datagram's.
bool IsValidRTCPCompound(const std::uint8_t* data, std::size_t length);

// The answer to one valid RTCP compound packet: a Receiver Report for the SSRC in its bytes
// 4-7, with the LSR from bytes 10-13 when it is a Sender Report (else zero), then the Source
// Description. `cname` longer than kRTCPMaxCnameLength is cut to that length.
std::array<std::uint8_t, kRTCPAnswerLength> BuildRTCPAnswer(std::uint32_t ownSsrc, const std::string& cname,
                                                            const std::uint8_t* received, std::size_t length);
std::array<std::uint8_t, kRTCPByeLength> BuildRTCPBye(std::uint32_t ownSsrc);

struct RTCPResponderSettings {
    RandomSource random;         // the own SSRC's source; empty: ProcessRandom32
    std::string hostName;        // the CNAME; empty: the local host name, else "default"
    std::uint32_t localAddress = platform::kIpv4Any;  // the address the RTCP port binds to
    std::function<void()> onForeign;    // a datagram from another address or port; may be empty
    std::function<void()> onMalformed;  // a datagram from the camera that is no valid RTCP; may be empty
};

class CRTCPResponder : public IUDPPortCompanion {
public:
    CRTCPResponder();
    explicit CRTCPResponder(RTCPResponderSettings settings);
    // Stops if the owner has not; the port that served it must be closed before.
    ~CRTCPResponder() override;
    CRTCPResponder(const CRTCPResponder&) = delete;
    CRTCPResponder& operator=(const CRTCPResponder&) = delete;

    // Binds `port`. Only datagrams from `cameraAddress` (host byte order) are answered. False when
    // the socket cannot be bound or set up, or when the responder is already started.
    bool Start(std::uint16_t port, std::uint32_t cameraAddress);
    // The camera's RTCP port as its session named it; 0 (or no call) takes the port of the
    // first valid packet from the camera's address. Only that port is answered.
    void SetCameraPort(std::uint16_t port) { m_cameraPort.store(port); }
    // Sends the BYE to the camera's RTCP port, when it is known, and closes the socket.
    void Stop();

    // Valid after a successful Start; GetPort reports the bound port (useful when 0 was asked).
    std::uint16_t GetPort() const { return m_port; }
    std::uint32_t GetSsrc() const { return m_ssrc; }
    const std::string& GetCname() const { return m_cname; }
    bool IsRunning() const { return m_socket.IsOpen(); }

    // IUDPPortCompanion, on the receive thread of the port it is attached to.
    platform::UdpSocket& CompanionSocket() override { return m_socket; }
    void OnCompanionReadable() override;

private:
    // Answers one datagram, if it deserves an answer.
    void Answer(const std::uint8_t* data, std::size_t length, const platform::Ipv4Endpoint& from);

    RTCPResponderSettings m_settings;
    std::atomic<std::uint16_t> m_cameraPort{0};
    // The camera's RTCP port when its session named none: the receive thread's while attached.
    std::atomic<std::uint16_t> m_latchedPort{0};
    // Set by Start, before the responder is attached; read-only afterwards.
    std::uint16_t m_port = 0;
    std::uint32_t m_ssrc = 0;
    std::string m_cname;
    std::uint32_t m_cameraAddress = 0;
    platform::UdpSocket m_socket;
};

}  // namespace kestrel

#endif
