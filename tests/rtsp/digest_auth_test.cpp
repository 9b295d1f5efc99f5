#include <gtest/gtest.h>

#include <string>

#include "rtsp/digest_auth.h"

namespace kestrel {
namespace {

using A = DigestAlgorithm;

TEST(DigestTest, MatchesWorkedExamples) {
    struct Case {
        const char* comment;
        DigestInput input;
        const char* response;
    };
    // RFC 7616 section 3.9.1: one challenge, answered with each algorithm. The -sess answers were
    // computed with Python's hashlib from the same inputs.
    const char* nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
    const char* cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    auto rfc7616 = [&](A algorithm) {
        return DigestInput{algorithm, "Mufasa", "http-auth@example.org", "Circle of Life", "GET", "/dir/index.html",
                           nonce, "00000001", cnonce};
    };
    const Case cases[] = {
        {"RFC 7616, MD5", rfc7616(A::kMd5), "8ca523f5e9506fed4657c9700eebdbec"},
        {"RFC 7616, SHA-256", rfc7616(A::kSha256), "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
        {"MD5-sess", rfc7616(A::kMd5Sess), "e783283f46242139c486a698fec7211d"},
        {"SHA-256-sess", rfc7616(A::kSha256Sess), "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"},
        {"RFC 2617 section 3.5, qop auth",
         {A::kMd5, "Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
          "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001", "0a4f113b"},
         "6629fae49393a05397450978507c4ef1"},
        {"RFC 2069 form, without qop",
         {A::kMd5, "Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
          "dcd98b7102dd2f0e8b11d0f600bfb0c093", "", ""},
         "670fd8c2df070c60b045671b8b24ff02"},
    };
    for (const Case& c : cases) EXPECT_EQ(ComputeDigestResponse(c.input), c.response) << c.comment;
}

TEST(DigestTest, HashesTheUserNameWithTheRealm) {
    // RFC 7616 section 3.4.4, with the hash of the challenge's algorithm (values from hashlib).
    EXPECT_EQ(ComputeDigestUserHash(A::kSha256, "Mufasa", "http-auth@example.org"),
              "a947aad205e80e429958a387394944c6b496301e79f89d35a4cc23b6ee12b5b6");
    EXPECT_EQ(ComputeDigestUserHash(A::kMd5Sess, "Mufasa", "http-auth@example.org"), "4238f3a16167373febb9bc4d43db9cc4");
}

TEST(DigestTest, KnowsOnlyTheAlgorithmsItCanAnswer) {
    struct Case {
        const char* name;
        bool known;
        A algorithm;
    };
    const Case cases[] = {
        {"", true, A::kMd5},  // no algorithm named: MD5
        {"MD5", true, A::kMd5},
        {"md5-SESS", true, A::kMd5Sess},
        {"SHA-256", true, A::kSha256},
        {"sha-256-sess", true, A::kSha256Sess},
        {"SHA-512-256", false, A::kMd5},
        {"SHA256", false, A::kMd5},
        {"MD5 ", false, A::kMd5},
    };
    for (const Case& c : cases) {
        A algorithm = A::kMd5;
        EXPECT_EQ(ParseDigestAlgorithm(c.name, algorithm), c.known) << '"' << c.name << '"';
        EXPECT_EQ(algorithm, c.algorithm) << '"' << c.name << '"';
    }
}

}  // namespace
}  // namespace kestrel
