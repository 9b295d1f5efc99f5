#include "channels/mjpeg_http_channel.h"

#include <vector>

#include "channels/streaming_adaptation.h"
#include "media/jpeg_media_parser.h"
#include "media/mpeg_media_parser.h"
#include "runtime/auth_challenge.h"
#include "runtime/string_helpers.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr const char kVideoObject[] = "/img/video.mjpeg";
constexpr const char kMultipartType[] = "multipart/";
}  // namespace

CBaseHttpChannel::CBaseHttpChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink, std::uint32_t mediaKind)
    : CBaseCameraChannel(channel, driver, sink), m_sender(driver->GetDeviceInfo()) {
    if (mediaKind == kMediaJpeg) m_parser = std::make_unique<CJpegMediaParser>(&m_producerDriver);
    if (mediaKind == kMediaMpeg) m_parser = std::make_unique<CMpegMediaParser>(&m_producerDriver);
    if (m_parser) m_parser->SetClient(this);
}

bool CBaseHttpChannel::OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height) {
    if (!DeliverFrame(frame, width, height)) return false;
    ++m_framesDelivered;
    return true;
}

std::uint32_t CBaseHttpChannel::Run() {
    RestartDeliveryClock();
    for (;;) {
        const std::uint64_t framesBefore = m_framesDelivered;
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
        const bool stalled = SuperviseFrames();
        // Only a stream that broke while its frames flowed is reopened at once: a camera that
        // refuses the stream or sends no pictures is not asked again, login and settings write
        // included, faster than the retry wait.
        const bool delivered = m_framesDelivered != framesBefore;
        if (WaitForStop(delivered && !stalled ? 0 : kRetryAfterTimeoutMs)) break;
    }
    return 0;
}

void CBaseHttpChannel::ReadStream() {
    std::vector<std::uint8_t> block;
    bool timedOut = false;
    std::size_t read = 1;
    while (!IsStopSet() && !timedOut && read > 0) {
        read = m_sender.ReadChunk(block);
        if (read > 0) {
            m_status.CountPacket(std::uint32_t(read));
            if (m_parser) m_parser->Parse(block.data(), read);
            timedOut = IsFrameTimedOut();
        }
    }
}

bool CBaseHttpChannel::SuperviseFrames() {
    // Judged from the last frame delivered, not the last connection: a camera that takes every
    // request but sends no picture has lost its signal all the same.
    const std::uint32_t withoutFrames = MillisecondsSinceLastDelivery();
    if (withoutFrames <= m_driver->GetDeviceInfo().frameTimeout) return false;
    SetState(kChannelNoFrames);
    // Reported before the host hears it: a host restarting the channel from inside the
    // callback must not turn the loss into a stop.
    SetCameraState(false);
    NotifySignalLost();
    return true;
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
        m_status.SetFailure(DescribeWebFailure("reading the streaming settings", m_client));
        return false;
    }
    AdaptMjpegSetting(setting, GetStartParams());
    if (!m_client.SetStreamingSetting(setting)) {
        m_status.SetFailure(DescribeWebFailure("writing the streaming settings", m_client));
        return false;
    }
    if (!m_sender.SendRequest(Web::HTTP_REQUEST("GET", kVideoObject))) {
        m_status.SetFailure("the MJPEG stream request got no answer");
        return false;
    }
    return IsStreamAnswer();
}

bool CMjpegHttpChannel::IsStreamAnswer() {
    const std::uint32_t status = m_sender.StatusCode();
    if (status != 200) {
        m_status.SetFailure(FormatString("MJPEG stream answered %u", unsigned(status)));
        return false;
    }
    const std::string type = m_sender.QueryHeader("Content-Type");
    if (!EqualsIgnoringAsciiCase(type.substr(0, sizeof kMultipartType - 1), kMultipartType)) {
        m_status.SetFailure("MJPEG stream answered 200 without a multipart stream (Content-Type \"" + type + "\")");
        return false;
    }
    return true;
}

}  // namespace kestrel
