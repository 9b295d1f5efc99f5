// Base64 encoding with the standard alphabet and "=" padding (RFC 4648, section 4).
#ifndef QUILLON_RTSP_BASE64_H
#define QUILLON_RTSP_BASE64_H

#include <string>
#include <string_view>

namespace kestrel {

// One unbroken line: header values must not carry line breaks, so none are inserted.
std::string Base64Encode(std::string_view bytes);

}  // namespace kestrel

#endif
