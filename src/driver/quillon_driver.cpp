#include "driver/quillon_driver.h"

#include "channels/common_rtsp_channel.h"
#include "channels/mjpeg_http_channel.h"
#include "io/cisco_io.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr std::uint32_t kTransportKey = 1;
// The transport parameter's value for MJPEG over HTTP; anything else means RTSP.
constexpr const char kHttpTransport[] = "1";
}  // namespace

ChannelKind SelectChannelKind(std::uint32_t codec, const std::string& transportParameter) {
    switch (codec) {
        case kCodecJpeg:
            return transportParameter == kHttpTransport ? ChannelKind::kMjpegHttp
                                                        : ChannelKind::kJpegRtsp;
        case kCodecMpeg4:
            return ChannelKind::kMpegRtsp;
        case kCodecH264:
            return ChannelKind::kH264Rtsp;
        default:
            return ChannelKind::kNone;
    }
}

bool CQuillonDriver::CreateIOApi() {
    if (!m_ioApi) m_ioApi.reset(new CCiscoIO(this, CCiscoIO::kPollPeriodMs));
    return m_ioApi != nullptr;
}

bool CQuillonDriver::CanCreateVideoCapture() {
    return true;
}

std::unique_ptr<ICameraChannel> CQuillonDriver::CreateChannel(std::uint32_t channel,
                                                              IChannelSink* sink) {
    if (!sink) return nullptr;
    switch (SelectChannelKind(GetCodec(), GetParameter(kTransportKey))) {
        case ChannelKind::kJpegRtsp: return std::make_unique<CJpegRtspChannel>(channel, this, sink);
        case ChannelKind::kMjpegHttp: return std::make_unique<CMjpegHttpChannel>(channel, this, sink);
        case ChannelKind::kMpegRtsp: return std::make_unique<CMpegRtspChannel>(channel, this, sink);
        case ChannelKind::kH264Rtsp: return std::make_unique<CH264RtspChannel>(channel, this, sink);
        case ChannelKind::kNone: break;
    }
    // The slot stays empty; say why, since the host sees only a started channel.
    DebugMessage(1, "%s: codec %u is not supported (channel %u)", "kestrel::CQuillonDriver::CreateChannel",
                 GetCodec(), channel);
    return nullptr;
}

}  // namespace kestrel
