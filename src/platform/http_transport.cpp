#include "platform/http_transport.h"

#include <cstdint>
#include <string>

namespace kestrel::platform {

// Read from the header's text on every back end: WinHTTP's numeric query saturates or wraps
// lengths past 31 or 32 bits, and a wrapped length would end a body early.
bool HttpTransport::ContentLength(std::uint32_t& value) const {
    const std::string text = QueryHeader("Content-Length");
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::uint64_t length = std::stoull(text);
    if (length > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(length);
    return true;
}

}  // namespace kestrel::platform
