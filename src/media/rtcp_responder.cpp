#include "media/rtcp_responder.h"

#include <algorithm>
#include <cstring>

#include "platform/host_name.h"

namespace kestrel {
namespace {

using platform::SocketError;

constexpr std::uint8_t kVersion2OneItem = 0x81;  // V=2, P=0, count 1
constexpr std::uint8_t kPacketTypeReceiverReport = 201;
constexpr std::uint8_t kPacketTypeSourceDescription = 202;
constexpr std::uint8_t kPacketTypeBye = 203;
constexpr std::uint8_t kSdesItemCname = 1;
// Lengths in 32-bit words minus one (RFC 3550 6.4.1).
constexpr std::uint16_t kReceiverReportWords = 7;
constexpr std::uint16_t kSourceDescriptionWords = 8;
constexpr std::uint16_t kByeWords = 1;
constexpr std::uint32_t kDelaySinceLastReport = 1;
constexpr std::size_t kMaxStoredCname = 128;
constexpr std::size_t kReceiveBufferLength = 4096;
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

// Byte `index` of the received datagram, or zero past its end.
std::uint8_t ByteOrZero(const std::uint8_t* data, std::size_t length, std::size_t index) {
    return index < length ? data[index] : 0;
}

bool IsPassingReceiveError(SocketError error) {
    switch (error) {
    case SocketError::kTimedOut:
    case SocketError::kWouldBlock:
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

std::array<std::uint8_t, kRTCPAnswerLength> BuildRTCPAnswer(std::uint32_t ownSsrc, const std::string& cname,
                                                            const std::uint8_t* received, std::size_t length) {
    std::array<std::uint8_t, kRTCPAnswerLength> answer{};
    std::uint8_t* report = answer.data();
    report[0] = kVersion2OneItem;
    report[1] = kPacketTypeReceiverReport;
    PutBig16(report + 2, kReceiverReportWords);
    PutBig32(report + 4, ownSsrc);
    for (std::size_t i = 0; i < 4; ++i) {
        report[8 + i] = ByteOrZero(received, length, 4 + i);    // SSRC of the source
        report[24 + i] = ByteOrZero(received, length, 10 + i);  // LSR: middle of the NTP time
    }
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

CRTCPResponder::~CRTCPResponder() {
    RequestStop();
    WaitForStop();
}

bool CRTCPResponder::Start(std::uint16_t port, std::uint32_t cameraAddress) {
    if (m_thread.IsStarted()) {
        // Still answering: a second Start is refused. Ending (the stop flag is set on every
        // way out): wait for it, which takes no longer than one receive wait.
        if (!m_stop.load()) return false;
        if (!WaitForStop()) return false;
    }
    // A responder that ended by itself still holds its port.
    m_socket.reset();

    auto socket = std::make_unique<platform::UdpSocket>();
    if (socket->Open() != SocketError::kNone) return false;
    platform::Ipv4Endpoint bound{m_settings.localAddress, port};
    if (socket->Bind(bound) != SocketError::kNone || socket->LocalEndpoint(bound) != SocketError::kNone) return false;
    if (socket->SetReceiveBufferSize(kSocketBufferBytes) != SocketError::kNone ||
        socket->SetSendBufferSize(kSocketBufferBytes) != SocketError::kNone ||
        socket->SetReceiveTimeout(m_settings.receiveTimeoutMs) != SocketError::kNone ||
        socket->SetSendTimeout(m_settings.receiveTimeoutMs) != SocketError::kNone)
        return false;

    {
        std::lock_guard<std::mutex> guard(m_setupLock);
        m_socket = std::move(socket);
        m_port = bound.port;
        m_stop.store(false);
        m_silenced.store(false);
        m_cameraAddress = cameraAddress;
        m_ssrc = m_settings.random ? m_settings.random() : ProcessRandom32();
        std::string name = m_settings.hostName.empty() ? platform::LocalHostName() : m_settings.hostName;
        if (name.empty()) name = kDefaultCname;
        if (name.size() > kMaxStoredCname) name.resize(kMaxStoredCname);
        m_cname = name;
    }
    // Set here, not on the thread, so that a WaitForStop right after Start sees a running responder.
    m_running.store(true);
    if (!m_thread.Start([this] { Run(); })) {
        m_running.store(false);
        m_socket.reset();
        return false;
    }
    return true;
}

void CRTCPResponder::RequestStop() { m_stop.store(true); }

bool CRTCPResponder::WaitForStop() {
    if (!m_thread.IsStarted()) return true;
    bool inTime = m_thread.WaitForEnd(m_settings.stopTimeoutMs);
    if (!inTime) {
        // The thread only ever blocks for the receive or send time-out, so after silencing it
        // and waking its wait the join is short.
        m_silenced.store(true);
        m_stop.store(true);
        if (m_socket) m_socket->Shutdown();
    }
    if (!m_thread.Join()) return false;
    m_socket.reset();
    return inTime;
}

std::uint16_t CRTCPResponder::GetPort() const {
    std::lock_guard<std::mutex> guard(m_setupLock);
    return m_port;
}

std::uint32_t CRTCPResponder::GetSsrc() const {
    std::lock_guard<std::mutex> guard(m_setupLock);
    return m_ssrc;
}

std::string CRTCPResponder::GetCname() const {
    std::lock_guard<std::mutex> guard(m_setupLock);
    return m_cname;
}

void CRTCPResponder::Run() {
    std::uint32_t ssrc = 0;
    std::string cname;
    std::uint32_t camera = 0;
    {
        std::lock_guard<std::mutex> guard(m_setupLock);
        ssrc = m_ssrc;
        cname = m_cname;
        camera = m_cameraAddress;
    }
    platform::UdpSocket& socket = *m_socket;
    std::array<std::uint8_t, kReceiveBufferLength> buffer{};
    platform::Ipv4Endpoint lastSender;
    bool haveSender = false;

    while (!m_stop.load()) {
        const SocketError waited = socket.WaitReadable(m_settings.receiveTimeoutMs);
        if (m_stop.load()) break;
        if (waited == SocketError::kTimedOut || waited == SocketError::kInterrupted) continue;
        if (waited != SocketError::kNone) break;

        std::size_t received = 0;
        platform::Ipv4Endpoint from;
        const SocketError result = socket.ReceiveFrom(buffer.data(), buffer.size(), received, from);
        if (IsPassingReceiveError(result)) continue;
        if (result != SocketError::kNone) break;
        // Anyone else could make us send 68 bytes for each of theirs, or end us with a short
        // datagram.
        if (from.address != camera) continue;
        lastSender = from;
        haveSender = true;
        if (received < kRTCPMinAnsweredLength) break;

        const auto answer = BuildRTCPAnswer(ssrc, cname, buffer.data(), received);
        if (m_silenced.load()) break;
        socket.SendTo(answer.data(), answer.size(), from);
    }

    m_stop.store(true);
    // Without a datagram from the camera its RTCP port is unknown: no BYE then.
    if (haveSender && !m_silenced.load()) {
        const auto bye = BuildRTCPBye(ssrc);
        socket.SendTo(bye.data(), bye.size(), lastSender);
    }
    // The socket is closed by the owner after the join, so WaitForStop never touches a closed one.
    m_running.store(false);
}

}  // namespace kestrel
