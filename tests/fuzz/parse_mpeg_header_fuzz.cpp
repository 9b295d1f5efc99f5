// The MPEG-4 header reader on arbitrary bytes: it reads nothing past the given length (the
// input is exactly that long, so ASan sees any overrun) and reports only sizes above 0.
#include <cstdlib>

#include "brindle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    const std::int32_t length = static_cast<std::int32_t>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
    if (ParseMpegHeader(data, length, &width, &height) > 0 && (width <= 0 || height <= 0)) {
        std::abort();
    }
    return 0;
}
