// How a channel's request (codec, size, rate, quality) becomes the camera's streaming settings,
// for the RTSP channels and for the MJPEG-over-HTTP channel. Pure functions over the web API's
// records, so they can be checked without a camera.
#ifndef QUILLON_CHANNELS_STREAMING_ADAPTATION_H
#define QUILLON_CHANNELS_STREAMING_ADAPTATION_H

#include <cstdint>
#include <string>

#include "quillon/quillon.h"
#include "webapi/webapi_documents.h"

namespace kestrel {

// RTSP's own port, taken when the camera names none or none that can be used.
constexpr std::uint16_t kDefaultRtspPort = 554;

// What an RTSP channel asks of its camera stream. The adaptation updates the stream name and the
// RTSP port from the camera, and for JPEG the start parameters it can honour.
struct StreamRequest {
    std::uint32_t streamNumber = 1;  // 1-based position in the camera's stream list
    std::uint32_t codec = ipcapture::kCodecH264;
    std::string streamName;
    std::uint16_t rtspPort = kDefaultRtspPort;
    ipcapture::CHANNEL_PARAMS params{};
    // The camera's rtspPortNo when it names no usable port (rtspPort is then the default);
    // empty otherwise.
    std::string unusableRtspPort;
};

// The camera's "videoCodecType" for a codec number; "" for an unknown one.
const char* CameraCodecType(std::uint32_t codec);

// Frames per second for a frame interval in milliseconds. A frame interval of 0 asks for the
// fastest rate, which is `fastest`.
std::uint32_t FramesPerSecond(std::uint32_t frameInterval, std::uint32_t fastest);

// The JPEG stream's sizes and rates: at most 720x576, and 25, 13, 5 or 1 frames per second.
void AdjustJpegStartParams(ipcapture::CHANNEL_PARAMS& params);

// Enables the requested stream with the request's codec, size, rate and quality, disables every
// other stream, and takes the stream name and RTSP port the camera uses. True when any field of
// the settings changed (they must then be written back).
bool AdaptStreamingSetting(STREAMING_SETTING& setting, StreamRequest& request);

// The camera's first stream as an MJPEG stream at the start parameters' size, quality and rate
// (at most 15 frames per second); every other stream disabled.
void AdaptMjpegSetting(STREAMING_SETTING& setting, const ipcapture::CHANNEL_PARAMS& params);

}  // namespace kestrel

#endif
