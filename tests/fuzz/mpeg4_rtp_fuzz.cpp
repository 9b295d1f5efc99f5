// The MPEG-4 depacketiser, with the header reader compiled in, on arbitrary packet sequences: no read outside a payload or a frame.
#include "fuzz_host.h"
#include "media/mpeg4_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const kestrel::CMpegHeaderReader reader(&ParseMpegHeader);
    fuzz_host::CDriver driver;
    fuzz_host::CChannel channel;
    kestrel::CMpeg4RTPMediaParser parser(&driver, "Quillon", reader);
    parser.SetClient(&channel);
    fuzz_host::InPackets(data, size, parser);
    return 0;
}
