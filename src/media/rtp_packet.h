// One RTP packet (RFC 3550 section 5.1) as read from a datagram. The record points into the
// datagram: it is valid only as long as the datagram buffer, which the receive thread reuses
// for the next datagram, so consumers copy what they keep before returning.
#ifndef QUILLON_MEDIA_RTP_PACKET_H
#define QUILLON_MEDIA_RTP_PACKET_H

#include <cstddef>
#include <cstdint>

namespace kestrel {

struct RTPPacket {
    std::uint32_t csrcCount = 0;                // CC; 0 when none
    const std::uint8_t* csrcList = nullptr;     // first CSRC word, null when CC is 0
    std::uint32_t ssrc = 0;                     // as it stands in the datagram (network byte order)
    bool marker = false;                        // M bit
    bool padding = false;                       // P bit; the padding octets are not part of the payload
    std::uint8_t payloadType = 0;               // PT, 7 bits
    std::uint16_t sequenceNumber = 0;           // host byte order
    std::uint32_t timestamp = 0;                // host byte order
    std::uint16_t extensionLength = 0;          // header extension length in 32-bit words
    std::uint16_t extensionProfile = 0;         // profile field of the extension, network byte order
    const std::uint8_t* extensionData = nullptr;  // first extension word, null without extension
    std::uint32_t paddingLength = 0;            // padding octets removed from the end
    std::uint32_t payloadLength = 0;            // payload octets, without header and padding
    const std::uint8_t* payload = nullptr;      // first payload octet
};

// Reads the fixed header, CSRC list, header extension and padding of one datagram into
// `packet` (reset first). False, with `packet` reset, when the datagram is not RTP version 2,
// is 12 bytes or shorter, or when its CSRC list, extension or padding count run past its end.
bool ParseRTPPacket(const std::uint8_t* data, std::size_t length, RTPPacket& packet);

// Wrap-aware comparison of 16-bit sequence numbers (RFC 3550 appendix A.1): true when `a`
// comes after `b`, that is when a - b taken modulo 2^16 lies in 1 .. 32767.
constexpr bool SequenceNewer(std::uint16_t a, std::uint16_t b) {
    return a != b && static_cast<std::uint16_t>(a - b) < 0x8000;
}

// Signed distance from `from` to `to`, modulo 2^16, in -32768 .. 32767.
constexpr int SequenceDistance(std::uint16_t from, std::uint16_t to) {
    return static_cast<int>(static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from)));
}

}  // namespace kestrel

#endif
