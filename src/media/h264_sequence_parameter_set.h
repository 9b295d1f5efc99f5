// The H.264 sequence parameter set (ITU-T H.264 section 7.3.2.1) as far as the picture size:
// read from the camera's stream, and written for cameras that send none.
#ifndef QUILLON_MEDIA_H264_SEQUENCE_PARAMETER_SET_H
#define QUILLON_MEDIA_H264_SEQUENCE_PARAMETER_SET_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// The displayed (cropped) width and height of one SPS NAL unit, header included, as it stands
// on the wire; false when it is no SPS or cannot be read. Untouched outputs on failure.
bool ReadH264SequenceParameterSet(const std::uint8_t* nal, std::size_t length, std::uint32_t& width,
                                  std::uint32_t& height);

// The same from the first SPS (behind a 00 00 01 start code) in an Annex B byte stream.
bool ReadH264PictureSize(const std::uint8_t* data, std::size_t length, std::uint32_t& width,
                         std::uint32_t& height);

// A baseline sequence parameter set (NAL header included) for a picture of `width` x `height`,
// cropped when the size is not a whole number of macroblocks; empty when either is 0.
std::vector<std::uint8_t> BuildH264SequenceParameterSet(std::uint32_t width, std::uint32_t height);

}  // namespace kestrel

#endif
