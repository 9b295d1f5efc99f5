// Keeps a camera's RTP session alive from the receiving side: binds the session's RTCP port
// and answers every well-formed RTCP packet from the camera's RTCP port with a Receiver Report
// and a Source Description carrying a CNAME (RFC 3550 6.4.2, 6.5); sends a BYE there when it
// stops. It keeps no reception statistics. Datagrams from anywhere else, and malformed ones,
// are dropped and reported through the settings' callbacks; none of them ends the responder.
//
// Threading: Start, SetCameraPort, RequestStop and WaitForStop are called by the owner (the
// session channel's worker); the responder's own thread is the only user of the socket after
// Start, and the only caller of the callbacks. The stop request is seen within the receive
// time-out.
#ifndef QUILLON_MEDIA_RTCP_RESPONDER_H
#define QUILLON_MEDIA_RTCP_RESPONDER_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "media/random_source.h"
#include "platform/thread.h"
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
    std::uint32_t receiveTimeoutMs = 500;             // how often the stop request is looked at
    std::uint32_t stopTimeoutMs = 10000;              // WaitForStop's bound
    std::function<void()> onForeign;    // a datagram from another address or port; may be empty
    std::function<void()> onMalformed;  // a datagram from the camera that is no valid RTCP; may be empty
};

class CRTCPResponder {
public:
    CRTCPResponder();
    explicit CRTCPResponder(RTCPResponderSettings settings);
    // Stops and waits for the thread if the owner has not.
    ~CRTCPResponder();
    CRTCPResponder(const CRTCPResponder&) = delete;
    CRTCPResponder& operator=(const CRTCPResponder&) = delete;

    // Binds `port` and starts the thread. Only datagrams from `cameraAddress` (host byte order)
    // are answered. False when the socket cannot be bound or set up, or when the responder is
    // already running.
    bool Start(std::uint16_t port, std::uint32_t cameraAddress);
    // The camera's RTCP port as its session named it; 0 (or no call) takes the port of the
    // first valid packet from the camera's address. Only that port is answered.
    void SetCameraPort(std::uint16_t port) { m_cameraPort.store(port); }
    void RequestStop();
    // Waits up to the stop time-out for the thread; false when it had to be cut short, in which
    // case the thread sends nothing more and is joined before this returns.
    bool WaitForStop();

    // Valid after a successful Start; GetPort reports the bound port (useful when 0 was asked).
    std::uint16_t GetPort() const;
    std::uint32_t GetSsrc() const;
    std::string GetCname() const;
    bool IsRunning() const { return m_running.load(); }

private:
    void Run();

    RTCPResponderSettings m_settings;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    // Set when WaitForStop gave up waiting: the thread must not send any more.
    std::atomic<bool> m_silenced{false};
    std::atomic<std::uint16_t> m_cameraPort{0};
    mutable std::mutex m_setupLock;  // guards m_port, m_ssrc, m_cname and m_cameraAddress
    std::uint16_t m_port = 0;
    std::uint32_t m_ssrc = 0;
    std::string m_cname;
    std::uint32_t m_cameraAddress = 0;
    // Handed to the thread at Start and used only by it until it is joined.
    std::unique_ptr<platform::UdpSocket> m_socket;
    platform::Thread m_thread;
};

}  // namespace kestrel

#endif
