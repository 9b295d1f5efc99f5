// The camera simulator's HTTP request reader and its web API on arbitrary client bytes: every
// request the bytes hold is parsed and answered, as a connection would take them in turn.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camsim/auth.h"
#include "camsim/http_message.h"
#include "camsim/text.h"
#include "camsim/web_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const camsim::CameraConfig config;
    camsim::StreamingSettings settings(config.streams, 554);
    camsim::IoPorts ports(config.inputCount, config.outputCount, 0);
    camsim::Faults faults;
    // A fixed session, so that the fuzzer can reach the operations behind the login.
    camsim::WebApi api(config, settings, ports, faults, [] { return std::string("S1"); });

    std::string buffer(reinterpret_cast<const char*>(data), size);
    camsim::HttpRequest request;
    camsim::ParseResult result;
    while ((result = camsim::ParseRequest(buffer, request, "HTTP/")) == camsim::ParseResult::kRequest) {
        if (request.body.size() > camsim::kMaxBodyBytes) std::abort();
        camsim::HttpResponse response = api.Handle(request);
        if (camsim::FormatHttpResponse(response).compare(0, 9, "HTTP/1.1 ") != 0) std::abort();
        camsim::ParseQuery(request.query);
        const std::string authorization = request.Header("Authorization");
        camsim::ParseAuthParameters(authorization);
        camsim::Base64Decode(authorization);
    }
    // Whatever is left is never more than one head's worth of waiting bytes.
    if (result == camsim::ParseResult::kNeedHead && buffer.size() > camsim::kMaxHeaderBytes) std::abort();
    return 0;
}
