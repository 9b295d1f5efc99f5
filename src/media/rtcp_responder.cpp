#include "media/rtcp_responder.h"

#include <algorithm>
#include <cstring>

#include "platform/host_name.h"

namespace kestrel {
namespace {

using platform::SocketError;

constexpr std::uint8_t kVersion2OneItem = 0x81;  // V=2, P=0, count 1
constexpr std::uint8_t kPacketTypeSenderReport = 200;
constexpr std::uint8_t kPacketTypeReceiverReport = 201;
constexpr std::uint8_t kPacketTypeSourceDescription = 202;
constexpr std::uint8_t kPacketTypeBye = 203;
constexpr std::uint8_t kSdesItemCname = 1;
// Lengths in 32-bit words minus one (RFC 3550 6.4.1).
constexpr std::uint16_t kReceiverReportWords = 7;
constexpr std::uint16_t kSourceDescriptionWords = 8;
constexpr std::uint16_t kByeWords = 1;
constexpr std::uint32_t kDelaySinceLastReport = 1;
constexpr std::size_t kRTCPHeaderLength = 4;
constexpr std::size_t kReportBlockLength = 24;
constexpr std::size_t kSenderInfoLength = 20;
constexpr std::size_t kSsrcLength = 4;
constexpr std::size_t kMaxStoredCname = 128;
constexpr std::size_t kReceiveBufferLength = 4096;
constexpr int kMaxDatagramsPerWake = 16;
constexpr std::uint32_t kSocketBufferBytes = 65536;
constexpr char kDefaultCname[] = "default";

void PutBig16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void PutBig32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

std::uint8_t Version(std::uint8_t first) { return first >> 6; }
bool HasPadding(std::uint8_t first) { return (first & 0x20) != 0; }
std::size_t ReportCount(std::uint8_t first) { return first & 0x1F; }

// The bytes of the packet starting at `header`: its length field counts 32-bit words minus one.
std::size_t PacketLength(const std::uint8_t* header) {
    return (std::size_t(header[2]) << 8 | header[3]) * 4 + kRTCPHeaderLength;
}

void Notify(const std::function<void()>& callback) {
    if (callback) callback();
}

bool IsPassingReceiveError(SocketError error) {
    switch (error) {
    case SocketError::kInterrupted:
    // ICMP reports about earlier answers, and oversized datagrams, concern one datagram only.
    case SocketError::kConnectionReset:
    case SocketError::kConnectionRefused:
    case SocketError::kMessageTruncated:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool IsValidRTCPCompound(const std::uint8_t* data, std::size_t length) {
    if (length < kRTCPHeaderLength + kSsrcLength) return false;
    const std::uint8_t type = data[1];
    if (type != kPacketTypeSenderReport && type != kPacketTypeReceiverReport) return false;
    if (HasPadding(data[0])) return false;
    const std::size_t fixed = kRTCPHeaderLength + kSsrcLength + (type == kPacketTypeSenderReport ? kSenderInfoLength : 0);
    if (PacketLength(data) < fixed + ReportCount(data[0]) * kReportBlockLength) return false;
    std::size_t at = 0;
    while (at < length) {
        if (length - at < kRTCPHeaderLength) return false;
        const std::uint8_t* header = data + at;
        if (Version(header[0]) != 2) return false;
        const std::size_t packet = PacketLength(header);
        if (packet > length - at) return false;
        at += packet;
        if (HasPadding(header[0]) && at != length) return false;
    }
    return true;
}

std::array<std::uint8_t, kRTCPAnswerLength> BuildRTCPAnswer(std::uint32_t ownSsrc, const std::string& cname,
                                                            const std::uint8_t* received, std::size_t length) {
    std::array<std::uint8_t, kRTCPAnswerLength> answer{};
    std::uint8_t* report = answer.data();
    report[0] = kVersion2OneItem;
    report[1] = kPacketTypeReceiverReport;
    PutBig16(report + 2, kReceiverReportWords);
    PutBig32(report + 4, ownSsrc);
    const bool senderReport = length >= kRTCPHeaderLength + kSsrcLength + kSenderInfoLength &&
                              received[1] == kPacketTypeSenderReport;
    if (length >= kRTCPHeaderLength + kSsrcLength) std::memcpy(report + 8, received + 4, 4);  // SSRC of the source
    // LSR: the middle of the last Sender Report's NTP time, zero without one (RFC 3550 6.4.1).
    if (senderReport) std::memcpy(report + 24, received + 10, 4);
    // Fraction and cumulative loss, extended highest sequence and jitter stay zero: no
    // statistics are kept.
    PutBig32(report + 28, kDelaySinceLastReport);

    std::uint8_t* description = answer.data() + kRTCPReceiverReportLength;
    description[0] = kVersion2OneItem;
    description[1] = kPacketTypeSourceDescription;
    PutBig16(description + 2, kSourceDescriptionWords);
    PutBig32(description + 4, ownSsrc);
    description[8] = kSdesItemCname;
    // At most 25 octets, so at least one zero octet ends the item list (RFC 3550 6.5) and the
    // length octet equals the octets sent.
    const std::size_t cnameLength = std::min(cname.size(), kRTCPMaxCnameLength);
    description[9] = static_cast<std::uint8_t>(cnameLength);
    std::memcpy(description + 10, cname.data(), cnameLength);
    return answer;
}

std::array<std::uint8_t, kRTCPByeLength> BuildRTCPBye(std::uint32_t ownSsrc) {
    std::array<std::uint8_t, kRTCPByeLength> bye{};
    bye[0] = kVersion2OneItem;
    bye[1] = kPacketTypeBye;
    PutBig16(bye.data() + 2, kByeWords);
    PutBig32(bye.data() + 4, ownSsrc);
    return bye;
}

CRTCPResponder::CRTCPResponder() = default;

CRTCPResponder::CRTCPResponder(RTCPResponderSettings settings) : m_settings(std::move(settings)) {}

CRTCPResponder::~CRTCPResponder() { Stop(); }

bool CRTCPResponder::Start(std::uint16_t port, std::uint32_t cameraAddress) {
    if (m_socket.IsOpen()) return false;
    platform::Ipv4Endpoint bound{m_settings.localAddress, port};
    // Non-blocking: the receive thread drains what is queued and goes back to its one wait.
    if (m_socket.Open() != SocketError::kNone || m_socket.Bind(bound) != SocketError::kNone ||
        m_socket.LocalEndpoint(bound) != SocketError::kNone ||
        m_socket.SetReceiveBufferSize(kSocketBufferBytes) != SocketError::kNone ||
        m_socket.SetSendBufferSize(kSocketBufferBytes) != SocketError::kNone ||
        m_socket.SetNonBlocking() != SocketError::kNone) {
        m_socket.Close();
        return false;
    }
    m_port = bound.port;
    m_cameraPort.store(0);
    m_latchedPort.store(0);
    m_cameraAddress = cameraAddress;
    m_ssrc = m_settings.random ? m_settings.random() : ProcessRandom32();
    std::string name = m_settings.hostName.empty() ? platform::LocalHostName() : m_settings.hostName;
    if (name.empty()) name = kDefaultCname;
    if (name.size() > kMaxStoredCname) name.resize(kMaxStoredCname);
    m_cname = name;
    return true;
}

void CRTCPResponder::Stop() {
    if (!m_socket.IsOpen()) return;
    // Without the camera's RTCP port known, there is nowhere to send the BYE.
    const std::uint16_t port = m_cameraPort.load() != 0 ? m_cameraPort.load() : m_latchedPort.load();
    if (port != 0) {
        const auto bye = BuildRTCPBye(m_ssrc);
        m_socket.SendTo(bye.data(), bye.size(), platform::Ipv4Endpoint{m_cameraAddress, port});
    }
    m_socket.Close();
}

void CRTCPResponder::OnCompanionReadable() {
    std::array<std::uint8_t, kReceiveBufferLength> buffer{};
    // A bounded batch, so that a flood here cannot hold up the RTP socket served by the same thread.
    for (int i = 0; i < kMaxDatagramsPerWake; ++i) {
        std::size_t received = 0;
        platform::Ipv4Endpoint from;
        const SocketError result = m_socket.ReceiveFrom(buffer.data(), buffer.size(), received, from);
        if (result == SocketError::kWouldBlock) return;
        if (IsPassingReceiveError(result)) continue;
        if (result != SocketError::kNone) return;
        Answer(buffer.data(), received, from);
    }
}

void CRTCPResponder::Answer(const std::uint8_t* data, std::size_t length, const platform::Ipv4Endpoint& from) {
    // Anyone else could make us send 68 bytes for each of theirs, or send our answers and
    // BYE wherever they like.
    const std::uint16_t named = m_cameraPort.load();
    const std::uint16_t latched = m_latchedPort.load();
    if (from.address != m_cameraAddress || (named != 0 && from.port != named) ||
        (named == 0 && latched != 0 && from.port != latched)) {
        Notify(m_settings.onForeign);
        return;
    }
    if (!IsValidRTCPCompound(data, length)) {
        Notify(m_settings.onMalformed);
        return;
    }
    if (named == 0) m_latchedPort.store(from.port);
    const auto answer = BuildRTCPAnswer(m_ssrc, m_cname, data, length);
    m_socket.SendTo(answer.data(), answer.size(), from);
}

}  // namespace kestrel
