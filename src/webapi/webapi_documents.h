// The records of the camera's XML configuration documents and the two documents the system writes.
// Values are kept as the text of their element; only the I/O port states are numbers.
#ifndef QUILLON_WEBAPI_WEBAPI_DOCUMENTS_H
#define QUILLON_WEBAPI_WEBAPI_DOCUMENTS_H

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct DEVICE_BASIC_INFO {
    std::string deviceName;
    std::string model;
    std::string udi;
    std::string macAddress;
    std::string firmwareVersion;
};

struct TRANSPORT_SETTING {
    std::string rtspPortNo;
    std::string maxPacketSize;
    std::string securityEnabled;
};

struct VIDEO_SETTING {
    std::string enabled;
    std::string videoStandardType;
    std::string videoCodecType;
    std::string videoScanType;
    std::string videoResolutionWidth;
    std::string videoResolutionHeight;
    std::string videoQualityControlType;
    std::string constantBitRate;
    std::string fixedQuality;
    std::string maxFrameRate;
    std::string keyFrameInterval;
    std::string vbrLowerCap;
    std::string vbrUpperCap;
};

struct STREAMING_CHANNEL {
    std::string channelID;
    std::string channelName;
    std::string enabled;
    std::string streamingTransportType;
    TRANSPORT_SETTING transport;
    VIDEO_SETTING video;
};

struct STREAMING_SETTING {
    std::string version;
    std::vector<STREAMING_CHANNEL> channels;
};

struct INPUT_PORT_ENTRY {
    std::string ioPortID;
    std::string triggeringType;
};

struct OUTPUT_PORT_ENTRY {
    std::string ioPortID;
    std::string defaultStateType;
    std::string outputStateType;
    std::string pulseDuration;
    std::string actionMappingType;
};

struct IO_PORT_SETTING {
    std::vector<INPUT_PORT_ENTRY> inputs;
    std::vector<OUTPUT_PORT_ENTRY> outputs;
};

// Port state codes as the camera sends them; anything else reads as kIoStateUnknown.
constexpr std::uint32_t kIoStateUnknown = 0;
constexpr std::uint32_t kIoStateOne = 1;
constexpr std::uint32_t kIoStateTwo = 2;

struct IO_PORT_STATUS {
    std::vector<std::uint32_t> inputStates;
    std::vector<std::uint32_t> outputStates;
};

// The streaming settings document, on one line, with every value XML-escaped. Never empty.
std::string BuildStreamingSettingDocument(const STREAMING_SETTING& setting);
// The I/O port data document for the 0-based port index; empty for state 0.
std::string BuildIOPortDataDocument(std::uint32_t portIndex, std::uint32_t state);
// The state code of a state text: its leading decimal integer (after blanks, with a sign) when
// that is 1 or 2, else 0.
std::uint32_t IoStateCode(const std::string& text);

}  // namespace kestrel

#endif
