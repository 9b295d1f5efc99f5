#include "channels/base_rtsp_channel.h"

#include <cctype>

#include "media/random_source.h"
#include "media/rtp_packet.h"
#include "platform/clock.h"
#include "platform/host_name.h"
#include "platform/sockets.h"
#include "runtime/string_helpers.h"

namespace kestrel {
namespace {

constexpr std::int32_t kStatusUnsupportedTransport = 461;  // RFC 2326 section 11.3.16
constexpr std::int32_t kStatusNotAcceptable = 406;         // what some cameras say instead

bool IsTransportRefusal(std::int32_t status) {
    return status == kStatusUnsupportedTransport || status == kStatusNotAcceptable;
}

}  // namespace

RTSPTransportChoice ParseRTSPTransportChoice(const std::string& value) {
    std::string lower;
    for (char c : value) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "udp") return RTSPTransportChoice::kUdp;
    if (lower == "tcp") return RTSPTransportChoice::kTcp;
    return RTSPTransportChoice::kAuto;
}

CBaseRTSPChannel::CBaseRTSPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink)
    : CBaseRTPChannel(channel, driver, sink, 0) {}

std::unique_ptr<CBaseRTSPClient> CBaseRTSPChannel::CreateRTSPClient() {
    return std::make_unique<CBaseRTSPClient>();
}

bool CBaseRTSPChannel::CreateSession() {
    m_choice = ParseRTSPTransportChoice(m_driver->GetParameter(kTransportParameter));
    switch (m_choice) {
    case RTSPTransportChoice::kUdp: m_tcpReason.store(TcpReason::kNone); break;
    case RTSPTransportChoice::kTcp: m_tcpReason.store(TcpReason::kAsked); break;
    case RTSPTransportChoice::kAuto: break;  // TCP once it was needed
    }
    m_interleaved.store(m_tcpReason.load() != TcpReason::kNone);
    std::unique_ptr<CBaseRTSPClient> client = CreateRTSPClient();
    if (!client) return false;
    {
        std::lock_guard<std::mutex> guard(m_interruptLock);
        m_client = std::move(client);
        if (m_interrupted) m_client->Interrupt();
    }
    if (m_interleaved.load()) return true;
    RTCPResponderSettings settings;
    // Called on the receive thread; the status counters take no lock.
    settings.onForeign = [this] { m_status.CountForeign(); };
    settings.onMalformed = [this] { m_status.CountMalformedRtcp(); };
    m_rtcp = std::make_unique<CRTCPResponder>(std::move(settings));
    return true;
}

void CBaseRTSPChannel::CloseSession() {
    // The BYE belongs to a session that got as far as its media.
    const bool streamed = m_interleavedThread.IsStarted();
    StopInterleavedReceiver();
    if (m_client) {
        if (streamed) {
            const auto bye = BuildRTCPBye(m_ownSsrc);
            m_client->SendInterleaved(m_rtcpChannel, bye.data(), bye.size());
        }
        m_client->Execute(RTSPMethod::kTeardown);
        m_client->Disconnect();
        std::lock_guard<std::mutex> guard(m_interruptLock);
        m_client.reset();
    }
    CloseUdpMedia();
}

void CBaseRTSPChannel::CloseUdpMedia() {
    // The RTP port's receive thread serves the responder: the port goes first (a teardown has
    // closed it already).
    if (CRTPReceiver* receiver = GetReceiver()) receiver->GetPort().Close();
    if (m_rtcp) {
        m_rtcp->Stop();
        m_rtcp.reset();
    }
    m_rtcpPort = 0;
}

bool CBaseRTSPChannel::BindMediaPort() {
    if (m_interleaved.load()) return true;  // the media come through the RTSP connection
    const bool bound = SearchMediaPort(2, kLastRtpPort, [this](std::uint16_t port) {
        if (!m_rtcp->Start(std::uint16_t(port + 1), GetCameraAddress())) return false;
        // Answered from the RTP port's receive thread: no thread of its own.
        GetReceiver()->GetPort().SetCompanion(m_rtcp.get());
        return true;
    });
    if (bound) m_rtcpPort = std::uint16_t(GetRtpPort() + 1);
    return bound;
}

bool CBaseRTSPChannel::OpenSession() {
    if (IsStopSet()) return false;
    const DEVICE_INFO device = m_driver->GetDeviceInfo();
    RTSPConnectSettings settings;
    settings.host = device.host;
    settings.serverAddress = GetCameraAddress();
    settings.user = device.user;
    settings.password = device.password;
    settings.connectTimeout = device.operationTimeout;
    settings.clientRtpPort = GetRtpPort();
    settings.clientRtcpPort = m_rtcpPort;
    FillSessionSettings(settings);

    if (!m_client->Connect(settings)) {
        m_status.SetFailure(FormatString("RTSP connection to %s:%u failed", CameraAddressText().c_str(),
                                         unsigned(settings.serverPort)));
        return false;
    }
    if (IsStopSet()) return false;
    m_client->Execute(RTSPMethod::kOptions);
    if (!Request(RTSPMethod::kDescribe, "DESCRIBE") || IsStopSet()) return false;
    OnDescribed();
    if (!SetUpTransport() || IsStopSet()) return false;
    // Before PLAY: the camera may send its first packets before its PLAY answer reaches us.
    const RTSPResponse& answer = m_client->GetResponse();
    if (m_interleaved.load()) {
        ExpectStream(RTPSourceExpectation{0, answer.ssrcNamed, answer.ssrc});
    } else {
        ExpectStream(RTPSourceExpectation{answer.serverRtpPort, answer.ssrcNamed, answer.ssrc});
        m_rtcp->SetCameraPort(answer.serverRtcpPort);
    }
    if (!Request(RTSPMethod::kPlay, "PLAY")) return false;
    m_playMs = platform::MonotonicMilliseconds();
    return !m_interleaved.load() || StartInterleavedReceiver();
}

bool CBaseRTSPChannel::SetUpTransport() {
    m_client->SetInterleaved(m_interleaved.load());
    if (!m_interleaved.load()) {
        if (Request(RTSPMethod::kSetup, "SETUP")) return true;
        if (m_choice != RTSPTransportChoice::kAuto || !IsTransportRefusal(m_client->GetResponse().statusCode))
            return false;
        // No session was made: the same connection asks again for RTP inside itself.
        CloseUdpMedia();
        m_tcpReason.store(TcpReason::kUdpRefused);
        m_interleaved.store(true);
        m_client->SetInterleaved(true);
        if (IsStopSet()) return false;
    }
    if (!Request(RTSPMethod::kSetup, "SETUP")) {
        // A camera that cannot carry RTP over TCP either: the next attempt is UDP's again,
        // rather than TCP for ever after one silent UDP session.
        if (m_choice == RTSPTransportChoice::kAuto && IsTransportRefusal(m_client->GetResponse().statusCode))
            m_tcpReason.store(TcpReason::kNone);
        return false;
    }
    const RTSPResponse& answer = m_client->GetResponse();
    // RFC 2326 section 12.39: the server may choose other channels than those asked for.
    m_rtpChannel = answer.interleavedNamed ? answer.interleavedRtp : 0;
    m_rtcpChannel = answer.interleavedNamed ? answer.interleavedRtcp : 1;
    return true;
}

bool CBaseRTSPChannel::Request(RTSPMethod method, const char* name) {
    const bool answered = m_client->Execute(method);
    // The client takes only 200 and 401 answers; the status of any other stays readable.
    const std::int32_t status = m_client->GetResponse().statusCode;
    if (answered && status >= 200 && status < 300) return true;
    if (answered || (status != 200 && status != 401)) {
        m_status.SetFailure(FormatString("RTSP %s answered %d", name, int(status)));
    } else {
        m_status.SetFailure(FormatString("RTSP %s got no answer", name));
    }
    return false;
}

bool CBaseRTSPChannel::StartInterleavedReceiver() {
    if (m_cname.empty()) m_cname = platform::LocalHostName();
    if (m_cname.empty()) m_cname = "default";
    m_ownSsrc = ProcessRandom32();
    m_interleavedStop.store(false);
    m_connectionLost.store(false);
    if (m_interleavedThread.Start([this] { ReceiveInterleaved(); }, platform::ThreadPriority::kAboveNormal)) return true;
    m_status.SetFailure(DescribeThreadFailure("the interleaved receive thread"));
    return false;
}

void CBaseRTSPChannel::StopInterleavedReceiver() {
    if (!m_interleavedThread.IsStarted()) return;
    m_interleavedStop.store(true);
    m_client->WakeInterleaved();
    m_interleavedThread.Join();
}

void CBaseRTSPChannel::ReceiveInterleaved() {
    platform::SetCurrentThreadPriority(platform::ThreadPriority::kAboveNormal);
    while (!m_interleavedStop.load()) {
        if (m_client->ReceiveInterleaved(*this, platform::SocketWaitSet::kInfinite) == InterleavedReceive::kClosed) {
            m_connectionLost.store(true);
            return;
        }
    }
}

void CBaseRTSPChannel::OnInterleavedFrame(std::uint8_t channel, const std::uint8_t* data, std::size_t length) {
    if (channel == m_rtpChannel) {
        RTPPacket packet;
        // The connection's far end is the camera; the stream is told by its SSRC alone.
        if (ParseRTPPacket(data, length, packet)) TakePacket(platform::Ipv4Endpoint{GetCameraAddress(), 0}, packet);
        return;
    }
    if (channel != m_rtcpChannel) {
        m_status.CountForeign();
        return;
    }
    if (!IsValidRTCPCompound(data, length)) {
        m_status.CountMalformedRtcp();
        return;
    }
    const auto answer = BuildRTCPAnswer(m_ownSsrc, m_cname, data, length);
    m_client->SendInterleaved(m_rtcpChannel, answer.data(), answer.size());
}

void CBaseRTSPChannel::OnInterleavedResync() { m_status.CountResync(); }

void CBaseRTSPChannel::KeepAlive() {
    if (!m_client) return;
    if (m_interleaved.load() && m_connectionLost.load()) {
        // A camera that restarted or dropped the connection: no frame can come any more.
        m_status.SetFailure("the camera closed the RTSP connection");
        Connect();
        return;
    }
    if (!m_interleaved.load() && m_choice == RTSPTransportChoice::kAuto && !CameraPacketSeen() &&
        platform::MonotonicMilliseconds() - m_playMs >= kUdpSilenceMs) {
        m_tcpReason.store(TcpReason::kNoUdp);
        Connect();
        return;
    }
    if (IsKeepAliveDue(m_client->GetSessionTimeout() / 2)) SendKeepAlive();
}

void CBaseRTSPChannel::SendKeepAlive() {
    if (!m_client) return;
    // Over TCP the receive thread reads the connection and takes the answer.
    if (m_interleaved.load()) {
        m_client->Post(RTSPMethod::kOptions);
    } else {
        m_client->Execute(RTSPMethod::kOptions);
    }
}

std::string CBaseRTSPChannel::InterleavedReason() const {
    if (!m_interleaved.load()) return {};
    switch (m_tcpReason.load()) {
    case TcpReason::kAsked: return "asked";
    case TcpReason::kUdpRefused: return "UDP refused";
    case TcpReason::kNoUdp: return "no UDP arrived";
    case TcpReason::kNone: break;
    }
    return {};
}

void CBaseRTSPChannel::InterruptSession() {
    std::lock_guard<std::mutex> guard(m_interruptLock);
    m_interrupted = true;
    if (m_client) m_client->Interrupt();
}

void CBaseRTSPChannel::ResumeSession() {
    std::lock_guard<std::mutex> guard(m_interruptLock);
    m_interrupted = false;
}

}  // namespace kestrel
