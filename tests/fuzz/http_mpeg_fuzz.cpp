// The HTTP MPEG-4 parser on arbitrary bodies cut into blocks, with the header reader compiled
// in: no read outside the input or a frame, and its buffer stays bounded.
#include <algorithm>
#include <cstdlib>

#include "fuzz_host.h"
#include "media/mpeg_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const kestrel::CMpegHeaderReader reader(&ParseMpegHeader);
    fuzz_host::CDriver driver;
    fuzz_host::CChannel channel;
    kestrel::CMpegMediaParser parser(&driver, reader);
    parser.SetClient(&channel);
    fuzz_host::InBlocks(data, size, [&](const std::uint8_t* block, std::size_t length) {
        parser.Parse(block, length);
        if (parser.BufferedBytes() > kestrel::CHttpMediaParser::kMaxBufferedBytes + 64) std::abort();
    });
    return 0;
}
