// The H.264 depacketiser on arbitrary packet sequences: no read outside a payload or a frame.
#include "fuzz_host.h"
#include "media/h264_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_host::CDriver driver;
    fuzz_host::CChannel channel;
    kestrel::CH264RTPMediaParser parser(&driver, "Quillon");
    parser.SetClient(&channel);
    fuzz_host::InPackets(data, size, parser);
    return 0;
}
