// The camera simulator's RTSP request reader on arbitrary client bytes, with the readers of what
// the requests carry: the URL's stream and track, the Transport ports, the Session and the
// Authorization header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camsim/auth.h"
#include "camsim/http_message.h"
#include "camsim/rtsp_server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string buffer(reinterpret_cast<const char*>(data), size);
    camsim::HttpRequest request;
    while (camsim::ParseRequest(buffer, request, "RTSP/") == camsim::ParseResult::kRequest) {
        camsim::RtspServer::ParseTarget(request.target);
        camsim::RtspServer::TransportChoice choice;
        if (camsim::RtspServer::ParseTransport(request.Header("Transport"), 1, true, choice) &&
            (choice.interleaved ? choice.rtp > 255 || choice.rtcp > 255 : choice.rtp == 0 || choice.rtcp == 0))
            std::abort();
        camsim::ParseAuthParameters(request.Header("Authorization"));
        camsim::Base64Decode(request.Header("Authorization"));
    }
    return 0;
}
