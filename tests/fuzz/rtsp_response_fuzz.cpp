// Feeds arbitrary bytes to the response framer, the CSeq finder and the parser, as the answer to each method, and
// through one parser in turn so that facts carried over from earlier answers are exercised.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtsp/rtsp_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    kestrel::RTSPFraming framing = kestrel::CRTSPResponseParser::FrameResponse(text);
    if (framing.status == kestrel::RTSPFraming::Status::kComplete &&
        (framing.start + framing.length > size || framing.length == 0))
        __builtin_trap();
    std::uint32_t cseq = 0;
    kestrel::CRTSPResponseParser::FindCSeq(text, cseq);

    kestrel::CRTSPResponseParser carried;
    for (std::uint32_t method = 1; method <= 6; ++method) {
        kestrel::CRTSPResponseParser fresh;
        fresh.ParseResponse(static_cast<kestrel::RTSPMethod>(method), text);
        carried.ParseResponse(static_cast<kestrel::RTSPMethod>(method), text);
    }
    return 0;
}
