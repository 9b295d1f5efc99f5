// The H.264 sequence parameter set reader on arbitrary NAL units and byte streams: no read
// outside the input, no undefined arithmetic, and a size it accepts is a real picture size.
#include <cstdlib>

#include "media/h264_sequence_parameter_set.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t width = 0, height = 0;
    if (kestrel::ReadH264SequenceParameterSet(data, size, width, height) &&
        (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF))
        std::abort();
    kestrel::ReadH264PictureSize(data, size, width, height);
    return 0;
}
