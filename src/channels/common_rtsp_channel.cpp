#include "channels/common_rtsp_channel.h"

#include "runtime/string_helpers.h"
#include "webapi/text_encoding.h"

namespace kestrel {

using namespace ipcapture;

CCommonRtspChannel::CCommonRtspChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink,
                                       std::uint32_t codec, std::uint32_t streamNumber, const char* streamName)
    : CBaseRTSPChannel(channel, driver, sink) {
    m_stream.codec = codec;
    m_stream.streamNumber = streamNumber;
    m_stream.streamName = streamName;
}

bool CCommonRtspChannel::ConfigureCamera() {
    CCiscoClient client;
    {
        std::lock_guard<std::mutex> guard(m_interruptLock);
        if (IsInterrupted()) return false;
        m_configClient = &client;
    }
    const bool configured = ConfigureWith(client);
    std::lock_guard<std::mutex> guard(m_interruptLock);
    m_configClient = nullptr;
    return configured;
}

bool CCommonRtspChannel::ConfigureWith(CCiscoClient& client) {
    DEVICE_INFO device = m_driver->GetDeviceInfo();
    device.operationTimeout = kConfigureTimeoutMs;
    if (!client.Connect(device)) {
        m_status.SetFailure(DescribeLoginFailure(client));
        return false;
    }
    STREAMING_SETTING setting;
    bool configured = client.GetStreamingSetting(setting);
    if (!configured) {
        m_status.SetFailure(DescribeWebFailure("reading the streaming settings", client));
    } else {
        m_stream.params = GetStartParams();
        const bool changed = AdaptStreamingSetting(setting, m_stream);
        ReportUnusableRtspPort();
        // The JPEG stream may not take every size and rate: the channel reports what it gets.
        SetStartParams(m_stream.params);
        configured = !changed || client.SetStreamingSetting(setting);
        if (!configured) {
            m_status.SetFailure(DescribeWebFailure("writing the streaming settings", client));
        }
    }
    client.Disconnect();
    return configured;
}

void CCommonRtspChannel::ReportUnusableRtspPort() {
    // Once per value the camera names, not on every reconnection.
    if (m_stream.unusableRtspPort == m_reportedRtspPort) return;
    m_reportedRtspPort = m_stream.unusableRtspPort;
    if (m_reportedRtspPort.empty()) return;
    m_driver->DebugMessage(1, "%s: the camera names RTSP port \"%s\", which is no port; using %u",
                           "kestrel::CCommonRtspChannel::ConfigureCamera", m_reportedRtspPort.c_str(),
                           unsigned(m_stream.rtspPort));
}

bool CCommonRtspChannel::Login() {
    if (m_webClient.Connect(m_driver->GetDeviceInfo())) return true;
    m_status.SetFailure(DescribeLoginFailure(m_webClient));
    return false;
}

void CCommonRtspChannel::Logout() { m_webClient.Disconnect(); }

void CCommonRtspChannel::FillSessionSettings(RTSPConnectSettings& settings) {
    settings.serverPort = m_stream.rtspPort;
    const std::string name = PercentEncode(m_stream.streamName);
    settings.describePath =
        FormatString("StreamingSetting?version=1.0&action=getRTSPStream&sessionID=%s&ChannelID=%u&ChannelName=%s",
                     PercentEncode(m_webClient.GetSessionId()).c_str(), unsigned(m_stream.streamNumber), name.c_str());
    settings.setupPath = FormatString("ChannelID=%u&ChannelName=%s", unsigned(m_stream.streamNumber), name.c_str());
    settings.playPath = settings.setupPath;
    settings.teardownPath = settings.setupPath;
}

void CCommonRtspChannel::InterruptSession() {
    {
        std::lock_guard<std::mutex> guard(m_interruptLock);
        if (m_configClient) m_configClient->Abort();
    }
    m_webClient.Abort();
    CBaseRTSPChannel::InterruptSession();
}

void CCommonRtspChannel::ResumeSession() {
    m_webClient.ResetAbort();
    CBaseRTSPChannel::ResumeSession();
}

const char* CCommonRtspChannel::CodecName() const {
    switch (m_stream.codec) {
        case kCodecJpeg: return "JPEG";
        case kCodecMpeg4: return "MPEG-4";
        default: return "H.264";
    }
}

CH264RtspChannel::CH264RtspChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink)
    : CCommonRtspChannel(channel, driver, sink, kCodecH264, 1, "Channel1"), m_parser(&m_producerDriver, kFrameSourceName) {
    m_parser.SetClient(this);
}

CMpegRtspChannel::CMpegRtspChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink)
    : CCommonRtspChannel(channel, driver, sink, kCodecMpeg4, 1, "Channel1"), m_parser(&m_producerDriver, kFrameSourceName) {
    m_parser.SetClient(this);
}

CJpegRtspChannel::CJpegRtspChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink)
    : CCommonRtspChannel(channel, driver, sink, kCodecJpeg, 2, "Channel2"), m_parser(&m_producerDriver, kFrameSourceName) {
    m_parser.SetClient(this);
}

}  // namespace kestrel
