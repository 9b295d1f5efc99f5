// MPEG-4 part 2 start codes (00 00 01 xx) the MPEG-4 parsers look for.
#ifndef QUILLON_MEDIA_MPEG4_START_CODES_H
#define QUILLON_MEDIA_MPEG4_START_CODES_H

#include <cstddef>
#include <cstdint>

namespace kestrel::mpeg4 {

// video_object_start_code 00 .. 1F, then video_object_layer_start_code 20 .. 2F.
constexpr std::uint8_t kVideoObjectLayerLast = 0x2F;
constexpr std::uint8_t kVisualObjectSequence = 0xB0;
constexpr std::uint8_t kVisualObject = 0xB5;
constexpr std::uint8_t kVop = 0xB6;
// vop_coding_type, the top two bits after the VOP start code: 00 is intra-coded.
constexpr std::uint8_t kFirstNonIntraCodingByte = 0x40;
constexpr std::size_t kStartCodeLength = 4;

// A sequence header starts with the visual object sequence; streams without one start it with
// the visual object, video object or video object layer.
constexpr bool StartsSequenceHeader(std::uint8_t code) {
    return code == kVisualObjectSequence || code == kVisualObject || code <= kVideoObjectLayerLast;
}

// True when `data` holds a start code with the given code at `at` (bounds checked).
inline bool IsStartCode(const std::uint8_t* data, std::size_t length, std::size_t at, std::uint8_t code) {
    return at + kStartCodeLength <= length && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1 &&
           data[at + 3] == code;
}

}  // namespace kestrel::mpeg4

#endif
