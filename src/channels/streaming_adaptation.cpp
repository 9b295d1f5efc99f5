#include "channels/streaming_adaptation.h"

#include <algorithm>
#include <cstdlib>

#include "runtime/string_helpers.h"

namespace kestrel {

using namespace ipcapture;

namespace {

constexpr std::uint32_t kMaxMjpegRate = 15;
// The fastest rate of a stream of either video standard ("1" is the 480-line one).
std::uint32_t FastestRate(const VIDEO_SETTING& video) { return video.videoStandardType == "1" ? 30 : 25; }

bool operator==(const TRANSPORT_SETTING& a, const TRANSPORT_SETTING& b) {
    return a.rtspPortNo == b.rtspPortNo && a.maxPacketSize == b.maxPacketSize && a.securityEnabled == b.securityEnabled;
}

bool operator==(const VIDEO_SETTING& a, const VIDEO_SETTING& b) {
    return a.enabled == b.enabled && a.videoStandardType == b.videoStandardType &&
           a.videoCodecType == b.videoCodecType && a.videoScanType == b.videoScanType &&
           a.videoResolutionWidth == b.videoResolutionWidth && a.videoResolutionHeight == b.videoResolutionHeight &&
           a.videoQualityControlType == b.videoQualityControlType && a.constantBitRate == b.constantBitRate &&
           a.fixedQuality == b.fixedQuality && a.maxFrameRate == b.maxFrameRate &&
           a.keyFrameInterval == b.keyFrameInterval && a.vbrLowerCap == b.vbrLowerCap && a.vbrUpperCap == b.vbrUpperCap;
}

bool operator==(const STREAMING_CHANNEL& a, const STREAMING_CHANNEL& b) {
    return a.channelID == b.channelID && a.channelName == b.channelName && a.enabled == b.enabled &&
           a.streamingTransportType == b.streamingTransportType && a.transport == b.transport && a.video == b.video;
}

void SetDefaultIfEmpty(std::string& field, const char* value) {
    if (field.empty()) field = value;
}

void SetVbrCaps(VIDEO_SETTING& video) {
    SetDefaultIfEmpty(video.vbrLowerCap, "1000");
    SetDefaultIfEmpty(video.vbrUpperCap, "6000");
}

// Leading digits, as the camera writes them. Without a port in 1-65535 there (text, 0, an
// overflow) the connection would go nowhere on every attempt: RTSP's own port is the best guess.
void TakeRtspPort(const std::string& text, StreamRequest& request) {
    const std::size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    const unsigned long port = digits == 0 || digits > 5 ? 0 : std::strtoul(text.c_str(), nullptr, 10);
    const bool usable = port >= 1 && port <= 0xFFFF;
    request.rtspPort = usable ? std::uint16_t(port) : kDefaultRtspPort;
    request.unusableRtspPort = usable ? std::string() : text;
}

void EnableRequestedStream(STREAMING_CHANNEL& entry, StreamRequest& request) {
    if (request.codec == kCodecJpeg) AdjustJpegStartParams(request.params);
    entry.enabled = "1";
    SetDefaultIfEmpty(entry.channelName, request.streamName.c_str());
    entry.streamingTransportType = "1";
    if (entry.transport.rtspPortNo.empty()) entry.transport.rtspPortNo = FormatString("%u", unsigned(request.rtspPort));
    entry.transport.securityEnabled = "0";
    VIDEO_SETTING& video = entry.video;
    video.enabled = "1";
    video.videoCodecType = CameraCodecType(request.codec);
    video.maxFrameRate = FormatString("%d", int(FramesPerSecond(request.params.frameInterval, FastestRate(video))));
    video.videoResolutionWidth = FormatString("%u", unsigned(request.params.width));
    video.videoResolutionHeight = FormatString("%u", unsigned(request.params.height));
    video.videoQualityControlType = "2";
    video.fixedQuality = FormatString("%u", unsigned(request.params.quality));
    video.keyFrameInterval = "1000";
    SetVbrCaps(video);

    request.streamName = entry.channelName;
    TakeRtspPort(entry.transport.rtspPortNo, request);
}

void DisableOtherStream(STREAMING_CHANNEL& entry) {
    entry.enabled = "0";
    VIDEO_SETTING& video = entry.video;
    video.enabled = "0";
    video.maxFrameRate = "1";
    video.keyFrameInterval = "1000";
    SetVbrCaps(video);
    video.videoResolutionWidth = "352";
    video.videoResolutionHeight = video.videoStandardType == "2" ? "288" : "240";
}

}  // namespace

const char* CameraCodecType(std::uint32_t codec) {
    switch (codec) {
        case kCodecJpeg: return "2";
        case kCodecMpeg4: return "1";
        case kCodecH264: return "4";
        default: return "";
    }
}

std::uint32_t FramesPerSecond(std::uint32_t frameInterval, std::uint32_t fastest) {
    return frameInterval == 0 ? fastest : 1000 / frameInterval;
}

void AdjustJpegStartParams(CHANNEL_PARAMS& params) {
    if (params.width > 720) {
        params.width = 720;
        params.height = 576;
    }
    const std::uint32_t fps = FramesPerSecond(params.frameInterval, 25);
    const std::uint32_t rate = fps >= 20 ? 25 : fps >= 10 ? 13 : fps >= 3 ? 5 : 1;
    params.frameInterval = 1000 / rate;
}

bool AdaptStreamingSetting(STREAMING_SETTING& setting, StreamRequest& request) {
    bool changed = false;
    for (std::size_t i = 0; i < setting.channels.size(); ++i) {
        STREAMING_CHANNEL adapted = setting.channels[i];
        if (i + 1 == request.streamNumber) {
            EnableRequestedStream(adapted, request);
        } else {
            DisableOtherStream(adapted);
        }
        if (!(adapted == setting.channels[i])) {
            setting.channels[i] = std::move(adapted);
            changed = true;
        }
    }
    return changed;
}

void AdaptMjpegSetting(STREAMING_SETTING& setting, const CHANNEL_PARAMS& params) {
    for (std::size_t i = 0; i < setting.channels.size(); ++i) {
        STREAMING_CHANNEL& entry = setting.channels[i];
        if (i != 0) {
            entry.enabled = "0";
            continue;
        }
        entry.enabled = "1";
        SetDefaultIfEmpty(entry.channelID, "1");
        SetDefaultIfEmpty(entry.channelName, "Channel1");
        entry.streamingTransportType = "3";
        entry.transport.securityEnabled = "0";
        VIDEO_SETTING& video = entry.video;
        video.enabled = "1";
        video.videoCodecType = "2";
        std::uint32_t rate = FramesPerSecond(params.frameInterval, kMaxMjpegRate);
        if (rate > kMaxMjpegRate) rate = kMaxMjpegRate;
        video.maxFrameRate = FormatString("%d", int(rate));
        video.videoResolutionWidth = FormatString("%u", unsigned(params.width));
        video.videoResolutionHeight = FormatString("%u", unsigned(params.height));
        video.videoQualityControlType = "2";
        video.fixedQuality = FormatString("%u", unsigned(params.quality));
        video.keyFrameInterval = "1000";
    }
}

}  // namespace kestrel
