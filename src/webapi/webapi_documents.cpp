#include "webapi/webapi_documents.h"

#include <cstdlib>

#include "webapi/text_encoding.h"

namespace kestrel {
namespace {

void Element(std::string& out, const char* name, const std::string& value) {
    out += '<';
    out += name;
    out += '>';
    out += XmlEscape(value);
    out += "</";
    out += name;
    out += '>';
}

}  // namespace

std::string BuildStreamingSettingDocument(const STREAMING_SETTING& setting) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><DeviceInfo>";
    Element(out, "version", setting.version);
    out += "<StreamingSetting><StreamingChannelList>";
    for (const STREAMING_CHANNEL& channel : setting.channels) {
        out += "<StreamingChannelEntry>";
        Element(out, "channelID", channel.channelID);
        Element(out, "channelName", channel.channelName);
        Element(out, "enabled", channel.enabled);
        Element(out, "streamingTransportType", channel.streamingTransportType);
        out += "<TransportSetting>";
        Element(out, "rtspPortNo", channel.transport.rtspPortNo);
        Element(out, "maxPacketSize", channel.transport.maxPacketSize);
        out += "<SecuritySetting>";
        Element(out, "enabled", channel.transport.securityEnabled);
        out += "</SecuritySetting></TransportSetting><VideoSetting>";
        const VIDEO_SETTING& video = channel.video;
        Element(out, "enabled", video.enabled);
        Element(out, "videoStandardType", video.videoStandardType);
        Element(out, "videoCodecType", video.videoCodecType);
        Element(out, "videoScanType", video.videoScanType);
        Element(out, "videoResolutionWidth", video.videoResolutionWidth);
        Element(out, "videoResolutionHeight", video.videoResolutionHeight);
        Element(out, "videoQualityControlType", video.videoQualityControlType);
        Element(out, "constantBitRate", video.constantBitRate);
        Element(out, "fixedQuality", video.fixedQuality);
        // The camera expects this order, which is not the order of its own answer.
        Element(out, "vbrUpperCap", video.vbrUpperCap);
        Element(out, "vbrLowerCap", video.vbrLowerCap);
        Element(out, "maxFrameRate", video.maxFrameRate);
        Element(out, "keyFrameInterval", video.keyFrameInterval);
        out += "</VideoSetting><AudioSetting><enabled>0</enabled></AudioSetting></StreamingChannelEntry>";
    }
    out += "</StreamingChannelList></StreamingSetting></DeviceInfo>";
    return out;
}

std::string BuildIOPortDataDocument(std::uint32_t portIndex, std::uint32_t state) {
    if (state == 0) return std::string();
    // The camera numbers its ports from 1.
    const std::uint64_t portNumber = static_cast<std::uint64_t>(portIndex) + 1;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
           "<DeviceInfo>\r\n"
           "<version>0.0.1</version>\r\n"
           "<IOPortData>\r\n"
           "<ioPortID>" +
           std::to_string(portNumber) +
           "</ioPortID>\r\n"
           "<outputStateType>" +
           std::to_string(state) +
           "</outputStateType>\r\n"
           "</IOPortData>\r\n"
           "</DeviceInfo>";
}

std::uint32_t IoStateCode(const std::string& text) {
    // strtol reads like atoi (blanks, a sign, digits) but without atoi's overflow behaviour.
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value == 1) return kIoStateOne;
    if (value == 2) return kIoStateTwo;
    return kIoStateUnknown;
}

}  // namespace kestrel
