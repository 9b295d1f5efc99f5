// The response value of HTTP Digest access authentication with MD5, as RTSP uses it:
// RFC 2069 form without qop, RFC 2617 / 7616 form with qop "auth".
#ifndef QUILLON_RTSP_DIGEST_AUTH_H
#define QUILLON_RTSP_DIGEST_AUTH_H

#include <string_view>

#include "rtsp/md5.h"

namespace kestrel {

struct DigestInput {
    std::string_view user;
    std::string_view realm;
    std::string_view password;
    std::string_view method;  // request word, e.g. "DESCRIBE"
    std::string_view uri;
    std::string_view nonce;
    // With qop "auth" only; both empty for the RFC 2069 form.
    std::string_view nonceCount;  // 8 hex digits
    std::string_view cnonce;
};

// 32 lower-case hex digits.
CMd5::HexDigest ComputeDigestResponse(const DigestInput& input);

}  // namespace kestrel

#endif
