#include "channels/mjpeg_http_channel.h"

#include <vector>

#include "channels/streaming_adaptation.h"
#include "media/jpeg_media_parser.h"
#include "media/mpeg_media_parser.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr const char kVideoObject[] = "/img/video.mjpeg";
}  // namespace

CBaseHttpChannel::CBaseHttpChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink, std::uint32_t mediaKind)
    : CBaseCameraChannel(channel, driver, sink), m_sender(driver->GetDeviceInfo()) {
    if (mediaKind == kMediaJpeg) m_parser = std::make_unique<CJpegMediaParser>(&m_producerDriver);
    if (mediaKind == kMediaMpeg) m_parser = std::make_unique<CMpegMediaParser>(&m_producerDriver);
    if (m_parser) m_parser->SetClient(this);
}

std::uint32_t CBaseHttpChannel::Run() {
    for (;;) {
        if (OpenStream()) {
            SetState(kChannelStreaming);
            TouchLastFrameTime();
            m_status.MarkConnected();
            ReadStream();
        }
        CloseStream();
        m_sender.CloseRequest();
        // A stop asked by the host is no lost signal: the state stays 3 and the sink hears nothing.
        if (IsStopSet()) break;
        const bool timedOut = IsFrameTimedOut();
        if (timedOut) {
            SetState(kChannelNoFrames);
            NotifySignalLost();
            SetCameraState(false);
        }
        if (WaitForStop(timedOut ? kRetryAfterTimeoutMs : 0)) break;
    }
    return 0;
}

bool CBaseHttpChannel::ReadStream() {
    std::vector<std::uint8_t> block;
    bool stop = IsStopSet();
    bool timedOut = false;
    std::size_t read = 1;
    while (!stop && !timedOut && read > 0) {
        read = m_sender.ReadChunk(block);
        if (read > 0) {
            m_status.CountPacket(std::uint32_t(read));
            if (m_parser) m_parser->Parse(block.data(), read);
            timedOut = IsFrameTimedOut();
        }
        stop = IsStopSet();
    }
    return stop;
}

void CBaseHttpChannel::PrepareWorker() {
    m_status.ClearFailure();
    m_sender.ResetAbort();
    ResumeCameraRequests();
}

void CBaseHttpChannel::OnStopRequested() {
    // The stream never ends by itself; the logout that follows still goes out.
    m_sender.Abort();
}

void CBaseHttpChannel::OnStopOverdue() { AbortCameraRequests(); }

CMjpegHttpChannel::CMjpegHttpChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink)
    : CBaseHttpChannel(channel, driver, sink, kMediaJpeg) {}

bool CMjpegHttpChannel::OpenStream() {
    if (!m_client.Connect(m_driver->GetDeviceInfo())) {
        m_status.SetFailure(DescribeLoginFailure(m_client));
        return false;
    }
    STREAMING_SETTING setting;
    if (!m_client.GetStreamingSetting(setting)) {
        m_status.SetFailure(DescribeWebFailure("reading the streaming settings", m_client.GetLastHttpStatus()));
        return false;
    }
    AdaptMjpegSetting(setting, GetStartParams());
    if (!m_client.SetStreamingSetting(setting)) {
        m_status.SetFailure(DescribeWebFailure("writing the streaming settings", m_client.GetLastHttpStatus()));
        return false;
    }
    if (!m_sender.SendRequest(Web::HTTP_REQUEST("GET", kVideoObject))) {
        m_status.SetFailure("the MJPEG stream request got no answer");
        return false;
    }
    return true;
}

}  // namespace kestrel
