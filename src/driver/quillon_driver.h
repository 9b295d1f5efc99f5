// The concrete driver: the channel factory for Cisco cameras and video servers, and their
// digital I/O object.
#ifndef QUILLON_DRIVER_QUILLON_DRIVER_H
#define QUILLON_DRIVER_QUILLON_DRIVER_H

#include <string>

#include "driver/ip_capture_driver.h"

namespace kestrel {

// The channel class a codec number and the transport parameter (host key 1) select.
enum class ChannelKind { kNone, kJpegRtsp, kMjpegHttp, kMpegRtsp, kH264Rtsp };
ChannelKind SelectChannelKind(std::uint32_t codec, const std::string& transportParameter);

class CQuillonDriver final : public CIPCaptureDriver {
public:
    // Channels still running call back into the driver: they are stopped while it is whole.
    ~CQuillonDriver() override { Uninit(); }
    bool CreateIOApi() override;
    bool CanCreateVideoCapture() override;
    std::unique_ptr<ICameraChannel> CreateChannel(std::uint32_t channel,
                                                  ipcapture::IChannelSink* sink) override;
};

}  // namespace kestrel

#endif
