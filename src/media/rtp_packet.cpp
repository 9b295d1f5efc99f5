#include "media/rtp_packet.h"

#include <cstring>

namespace kestrel {
namespace {

constexpr std::size_t kFixedHeaderLength = 12;
constexpr unsigned kRtpVersion = 2;
constexpr std::uint8_t kPaddingBit = 0x20;
constexpr std::uint8_t kExtensionBit = 0x10;
constexpr std::uint8_t kCsrcCountMask = 0x0F;
constexpr std::uint8_t kMarkerBit = 0x80;
constexpr std::uint8_t kPayloadTypeMask = 0x7F;

std::uint16_t ReadBig16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

std::uint32_t ReadBig32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

bool ParseRTPPacket(const std::uint8_t* data, std::size_t length, RTPPacket& packet) {
    packet = RTPPacket{};
    if (data == nullptr || length <= kFixedHeaderLength) return false;
    if ((data[0] >> 6) != kRtpVersion) return false;

    RTPPacket parsed;
    // All lengths in size_t: a 16-bit extension length times four does not fit 16 bits.
    std::size_t headerLength = kFixedHeaderLength;
    const unsigned csrcCount = data[0] & kCsrcCountMask;
    if (csrcCount != 0) {
        parsed.csrcCount = csrcCount;
        parsed.csrcList = data + kFixedHeaderLength;
        headerLength += 4u * csrcCount;
    }
    if (data[0] & kExtensionBit) {
        headerLength += 4;
        if (length < headerLength) return false;
        parsed.extensionLength = ReadBig16(data + headerLength - 2);
        std::memcpy(&parsed.extensionProfile, data + headerLength - 4, 2);
        parsed.extensionData = data + headerLength;
        headerLength += 4u * parsed.extensionLength;
    }
    if (length < headerLength) return false;

    std::size_t payloadLength = length - headerLength;
    if (data[0] & kPaddingBit) {
        // RFC 3550 5.1: the last octet counts the padding octets, itself included.
        const std::uint8_t paddingLength = data[length - 1];
        if (paddingLength == 0 || paddingLength > payloadLength) return false;
        parsed.padding = true;
        parsed.paddingLength = paddingLength;
        payloadLength -= paddingLength;
    }

    std::memcpy(&parsed.ssrc, data + 8, 4);
    parsed.marker = (data[1] & kMarkerBit) != 0;
    parsed.payloadType = data[1] & kPayloadTypeMask;
    parsed.sequenceNumber = ReadBig16(data + 2);
    parsed.timestamp = ReadBig32(data + 4);
    parsed.payload = data + headerLength;
    parsed.payloadLength = static_cast<std::uint32_t>(payloadLength);
    packet = parsed;
    return true;
}

}  // namespace kestrel
