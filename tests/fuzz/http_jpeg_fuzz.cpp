// The HTTP JPEG parser on arbitrary bodies cut into blocks: no read outside the input or a
// frame, and its buffer stays bounded.
#include <algorithm>
#include <cstdlib>

#include "fuzz_host.h"
#include "media/jpeg_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_host::CDriver driver;
    fuzz_host::CChannel channel;
    kestrel::CJpegMediaParser parser(&driver);
    parser.SetClient(&channel);
    fuzz_host::InBlocks(data, size, [&](const std::uint8_t* block, std::size_t length) {
        parser.Parse(block, length);
        if (parser.BufferedBytes() > kestrel::CHttpMediaParser::kMaxBufferedBytes + 64) std::abort();
    });
    return 0;
}
