#include "channels/base_rtsp_channel.h"

#include "platform/sockets.h"
#include "runtime/string_helpers.h"

namespace kestrel {

CBaseRTSPChannel::CBaseRTSPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink)
    : CBaseRTPChannel(channel, driver, sink, 0) {}

std::unique_ptr<CBaseRTSPClient> CBaseRTSPChannel::CreateRTSPClient() {
    return std::make_unique<CBaseRTSPClient>();
}

bool CBaseRTSPChannel::CreateSession() {
    std::unique_ptr<CBaseRTSPClient> client = CreateRTSPClient();
    if (!client) return false;
    {
        std::lock_guard<std::mutex> guard(m_interruptLock);
        m_client = std::move(client);
        if (m_interrupted) m_client->Interrupt();
    }
    RTCPResponderSettings settings;
    // Called on the receive thread; the status counters take no lock.
    settings.onForeign = [this] { m_status.CountForeign(); };
    settings.onMalformed = [this] { m_status.CountMalformedRtcp(); };
    m_rtcp = std::make_unique<CRTCPResponder>(std::move(settings));
    return true;
}

void CBaseRTSPChannel::CloseSession() {
    if (m_client) {
        m_client->Execute(RTSPMethod::kTeardown);
        m_client->Disconnect();
        std::lock_guard<std::mutex> guard(m_interruptLock);
        m_client.reset();
    }
    // The receive thread that served it is gone: the RTP port was closed first.
    if (m_rtcp) {
        m_rtcp->Stop();
        m_rtcp.reset();
    }
    m_rtcpPort = 0;
}

bool CBaseRTSPChannel::BindMediaPort() {
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
    if (!Request(RTSPMethod::kSetup, "SETUP") || IsStopSet()) return false;
    // Before PLAY: the camera may send its first packets before its PLAY answer reaches us.
    const RTSPResponse& answer = m_client->GetResponse();
    ExpectStream(RTPSourceExpectation{answer.serverRtpPort, answer.ssrcNamed, answer.ssrc});
    m_rtcp->SetCameraPort(answer.serverRtcpPort);
    return Request(RTSPMethod::kPlay, "PLAY");
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

void CBaseRTSPChannel::KeepAlive() {
    if (m_client && IsKeepAliveDue(m_client->GetSessionTimeout() / 2)) SendKeepAlive();
}

void CBaseRTSPChannel::SendKeepAlive() {
    if (m_client) m_client->Execute(RTSPMethod::kOptions);
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
