// The response value of HTTP Digest access authentication as RTSP uses it: RFC 2069 form without
// qop, RFC 7616 form with qop "auth", for the MD5 and SHA-256 algorithms and their -sess variants.
#ifndef QUILLON_RTSP_DIGEST_AUTH_H
#define QUILLON_RTSP_DIGEST_AUTH_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// Ordered by strength: of several challenges the client answers the highest it can.
enum class DigestAlgorithm : std::uint32_t { kMd5 = 1, kMd5Sess = 2, kSha256 = 3, kSha256Sess = 4 };

// The algorithm a challenge names (case-insensitive); an empty name is MD5 (RFC 7616 section
// 3.3). False for a name we cannot answer.
bool ParseDigestAlgorithm(std::string_view name, DigestAlgorithm& algorithm);
// The name as the response's algorithm parameter writes it, e.g. "SHA-256-sess".
const char* GetDigestAlgorithmName(DigestAlgorithm algorithm);
// True when `a` rests on a stronger hash than `b` (SHA-256 over MD5); a -sess variant is as
// strong as its hash.
bool IsStrongerDigest(DigestAlgorithm a, DigestAlgorithm b);
// The -sess variants mix the client nonce into HA1 and so need qop.
bool IsSessionDigest(DigestAlgorithm algorithm);

struct DigestInput {
    DigestAlgorithm algorithm = DigestAlgorithm::kMd5;
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

// Lower-case hex digits: 32 for MD5, 64 for SHA-256.
std::string ComputeDigestResponse(const DigestInput& input);
// The user name hidden for userhash=true (RFC 7616 section 3.4.4): H(user ":" realm).
std::string ComputeDigestUserHash(DigestAlgorithm algorithm, std::string_view user, std::string_view realm);

}  // namespace kestrel

#endif
