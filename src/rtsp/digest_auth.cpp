#include "rtsp/digest_auth.h"

#include <initializer_list>

#include "rtsp/md5.h"
#include "rtsp/sha256.h"
#include "runtime/auth_challenge.h"

namespace kestrel {
namespace {

bool UsesSha256(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::kSha256 || algorithm == DigestAlgorithm::kSha256Sess;
}

// H(part ":" part ":" ...) in lower-case hex, with the algorithm's hash.
template <typename Hash>
std::string JoinedHex(std::initializer_list<std::string_view> parts) {
    Hash hash;
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) hash.Update(":");
        hash.Update(part);
        first = false;
    }
    return hash.FinalHex().data();
}

std::string HashHex(DigestAlgorithm algorithm, std::initializer_list<std::string_view> parts) {
    return UsesSha256(algorithm) ? JoinedHex<CSha256>(parts) : JoinedHex<CMd5>(parts);
}

}  // namespace

bool ParseDigestAlgorithm(std::string_view name, DigestAlgorithm& algorithm) {
    static const DigestAlgorithm kAll[] = {DigestAlgorithm::kMd5, DigestAlgorithm::kMd5Sess, DigestAlgorithm::kSha256,
                                           DigestAlgorithm::kSha256Sess};
    if (name.empty()) {
        algorithm = DigestAlgorithm::kMd5;
        return true;
    }
    for (DigestAlgorithm candidate : kAll) {
        if (EqualsIgnoringAsciiCase(name, GetDigestAlgorithmName(candidate))) {
            algorithm = candidate;
            return true;
        }
    }
    return false;
}

const char* GetDigestAlgorithmName(DigestAlgorithm algorithm) {
    switch (algorithm) {
    case DigestAlgorithm::kMd5: return "MD5";
    case DigestAlgorithm::kMd5Sess: return "MD5-sess";
    case DigestAlgorithm::kSha256: return "SHA-256";
    case DigestAlgorithm::kSha256Sess: return "SHA-256-sess";
    }
    return "";
}

bool IsStrongerDigest(DigestAlgorithm a, DigestAlgorithm b) { return UsesSha256(a) && !UsesSha256(b); }

bool IsSessionDigest(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::kMd5Sess || algorithm == DigestAlgorithm::kSha256Sess;
}

std::string ComputeDigestResponse(const DigestInput& input) {
    // RFC 7616 section 3.4.2: the -sess HA1 binds the user's secret to this nonce pair.
    std::string ha1 = HashHex(input.algorithm, {input.user, input.realm, input.password});
    if (IsSessionDigest(input.algorithm)) ha1 = HashHex(input.algorithm, {ha1, input.nonce, input.cnonce});
    std::string ha2 = HashHex(input.algorithm, {input.method, input.uri});
    if (input.cnonce.empty()) return HashHex(input.algorithm, {ha1, input.nonce, ha2});
    return HashHex(input.algorithm, {ha1, input.nonce, input.nonceCount, input.cnonce, "auth", ha2});
}

std::string ComputeDigestUserHash(DigestAlgorithm algorithm, std::string_view user, std::string_view realm) {
    return HashHex(algorithm, {user, realm});
}

}  // namespace kestrel
