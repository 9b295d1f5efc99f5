#include "channels/base_rtp_channel.h"

#include "platform/clock.h"
#include "platform/sockets.h"

namespace kestrel {

namespace {
constexpr std::uint32_t kPassMs = 1000;
}  // namespace

CBaseRTPChannel::CBaseRTPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink,
                                 std::uint32_t keepAliveInterval)
    : CBaseCameraChannel(channel, driver, sink), m_keepAliveInterval(keepAliveInterval) {}

std::int32_t CBaseRTPChannel::OnRTPPacket(CRTPReceiver* receiver, const platform::Ipv4Endpoint& fromAddress,
                                          const RTPPacket& packet) {
    m_status.SetKernelDrops(receiver->GetPort().GetKernelDrops());
    TakePacket(fromAddress, packet);
    return 0;
}

void CBaseRTPChannel::TakePacket(const platform::Ipv4Endpoint& fromAddress, const RTPPacket& packet) {
    switch (m_sourceFilter.Judge(fromAddress, packet)) {
    case RTPSourceVerdict::kAccept:
        m_cameraPacketSeen.store(true, std::memory_order_relaxed);
        break;
    case RTPSourceVerdict::kProbation:
        m_cameraPacketSeen.store(true, std::memory_order_relaxed);
        return;
    case RTPSourceVerdict::kProbeStream:
        m_packetEvent.Set();
        m_status.CountForeign();
        return;
    case RTPSourceVerdict::kProbe:
    case RTPSourceVerdict::kForeign:
        // Dropped before the depacketiser, whose frame in progress is left whole.
        m_status.CountForeign();
        return;
    }
    m_status.CountPacket(packet.payloadLength);
    if (m_haveSequence && packet.sequenceNumber != std::uint16_t(m_lastSequence + 1)) m_status.CountGap();
    m_haveSequence = true;
    m_lastSequence = packet.sequenceNumber;
    OnMediaPacket(packet);
}

std::uint32_t CBaseRTPChannel::Run() {
    TouchLastFrameTime();
    RestartDeliveryClock();
    while (!IsStopSet()) {
        if (GetState() != kChannelStreaming) {
            Connect();
        } else {
            KeepAlive();
        }
        if (WaitForStop(kPassMs)) break;
        SuperviseFrames();
    }
    // No offline report here: a stop makes its own, and a restart is no stop.
    Teardown();
    return 0;
}

void CBaseRTPChannel::PrepareWorker() {
    m_status.ClearFailure();
    ResumeSession();
}

void CBaseRTPChannel::OnStopRequested() {
    // A session that is up is left to its teardown (TEARDOWN, BYE, logout); an attempt in
    // progress may hang on the camera and is cut short.
    if (m_connecting.load()) InterruptSession();
    // Ends a port probe's wait; the search then sees the stop.
    m_packetEvent.Set();
}

std::string CBaseRTPChannel::CameraAddressText() const {
    const std::uint32_t address = m_cameraAddress.load();
    return address != 0 ? platform::FormatIpv4(address) : CBaseCameraChannel::CameraAddressText();
}

void CBaseRTPChannel::SuperviseFrames() {
    const DEVICE_INFO device = m_driver->GetDeviceInfo();
    const std::uint32_t elapsed = MillisecondsSinceLastFrame();
    if (elapsed <= device.frameTimeout) return;
    SetState(kChannelNoFrames);
    // Judged from the last frame, not the last connection: a camera that takes every new
    // session but sends nothing has lost its signal all the same.
    const std::uint32_t withoutFrames = MillisecondsSinceLastDelivery();
    if (std::uint64_t(withoutFrames) > 2 * std::uint64_t(device.frameTimeout)) {
        // Reported before the host hears it: a host restarting the channel from inside the
        // callback must not turn the loss into a stop.
        SetCameraState(false);
        NotifySignalLost();
    }
}

bool CBaseRTPChannel::Connect() {
    m_connecting.store(true);
    const bool connected = ConnectSteps();
    if (!connected) Teardown();
    m_connecting.store(false);
    return connected;
}

bool CBaseRTPChannel::ConnectSteps() {
    Teardown();
    // Resolved at each attempt: a camera known by name may have moved.
    const std::string host = m_driver->GetDeviceInfo().host;
    std::uint32_t address = 0;
    // A DNS server that does not answer must not hold a stop: the lookup is left behind.
    const auto resolved = m_resolver.Resolve(host, address, [this](std::uint32_t ms) { return WaitForStop(ms); });
    if (resolved == platform::HostResolver::Result::kStopped) return false;
    if (resolved == platform::HostResolver::Result::kNotFound) {
        m_status.SetFailure("camera address \"" + host + "\" does not resolve to an IPv4 address");
        return false;
    }
    m_cameraAddress.store(address);
    if (!ConfigureCamera() || !Login()) return false;
    m_receiver = std::make_unique<CRTPReceiver>();
    m_haveSequence = false;
    m_cameraPacketSeen.store(false);
    m_sourceFilter.Reset(address);
    if (!CreateSession() || !BindMediaPort() || !OpenSession()) return false;
    // A session that named nothing of its stream leaves it to be latched.
    ExpectStream(RTPSourceExpectation());
    SetState(kChannelStreaming);
    TouchLastFrameTime();
    m_status.MarkConnected();
    return true;
}

void CBaseRTPChannel::Teardown() {
    SetState(kChannelStopped);
    if (m_receiver) {
        m_receiver->SetUser(nullptr);
        m_receiver->GetPort().Close();
        m_status.CloseSocketCount();
        m_receiver.reset();
    }
    m_rtpPort = 0;
    CloseSession();
    Logout();
}

bool CBaseRTPChannel::BindMediaPort() {
    return SearchMediaPort(1, kLastMediaPort, [](std::uint16_t) { return true; });
}

bool CBaseRTPChannel::SearchMediaPort(std::uint16_t step, std::uint16_t lastPort,
                                      const std::function<bool(std::uint16_t)>& accept) {
    m_receiver->SetUser(this);
    CUDPPort& udp = m_receiver->GetPort();
    std::uint32_t busyPorts = 0;
    for (std::uint32_t port = kFirstMediaPort; port <= lastPort; port += step) {
        // Reset before the stop is looked at: a stop sets the event after its own.
        m_packetEvent.Reset();
        if (IsStopSet()) return false;
        m_sourceFilter.BeginProbe();
        const UDPPortOpenResult opened = udp.Open(nullptr, std::uint16_t(port));
        if (opened == UDPPortOpenResult::kThreadFailed) {
            // Another port would need a thread all the same.
            m_status.SetFailure(DescribeThreadFailure("the receive thread"));
            return false;
        }
        if (opened != UDPPortOpenResult::kOpened) continue;
        // A camera still sending an earlier session's stream here would load the port with it.
        // Only a few ports are passed over: anyone can send a stream, and the source check
        // keeps a stray one out of ours in any case.
        const bool busy = m_packetEvent.Wait(kStrayPacketWaitMs) && busyPorts++ < kMaxBusyPorts;
        if (IsStopSet()) break;
        if (!busy && accept(std::uint16_t(port))) {
            m_sourceFilter.EndProbe();
            m_rtpPort = std::uint16_t(port);
            return true;
        }
        udp.Close();
    }
    if (IsStopSet()) return false;
    m_status.SetFailure("no free local UDP port for RTP in 3556-4555");
    return false;
}

void CBaseRTPChannel::KeepAlive() {
    if (IsKeepAliveDue(m_keepAliveInterval)) SendKeepAlive();
}

bool CBaseRTPChannel::IsKeepAliveDue(std::uint32_t interval) {
    const std::uint64_t now = platform::MonotonicMilliseconds();
    if (m_lastKeepAliveMs != 0 && now - m_lastKeepAliveMs <= interval) return false;
    m_lastKeepAliveMs = now;
    return true;
}

}  // namespace kestrel
