#include "rtsp/digest_auth.h"

namespace kestrel {

CMd5::HexDigest ComputeDigestResponse(const DigestInput& input) {
    CMd5 md5;
    md5.Update(input.user);
    md5.Update(":");
    md5.Update(input.realm);
    md5.Update(":");
    md5.Update(input.password);
    CMd5::HexDigest ha1 = md5.FinalHex();
    md5.Update(input.method);
    md5.Update(":");
    md5.Update(input.uri);
    CMd5::HexDigest ha2 = md5.FinalHex();

    md5.Update(std::string_view(ha1.data(), 32));
    md5.Update(":");
    md5.Update(input.nonce);
    md5.Update(":");
    if (!input.cnonce.empty()) {
        md5.Update(input.nonceCount);
        md5.Update(":");
        md5.Update(input.cnonce);
        md5.Update(":auth:");
    }
    md5.Update(std::string_view(ha2.data(), 32));
    return md5.FinalHex();
}

}  // namespace kestrel
