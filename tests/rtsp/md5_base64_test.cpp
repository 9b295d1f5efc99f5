#include <gtest/gtest.h>

#include <string>

#include "rtsp/base64.h"
#include "rtsp/md5.h"

namespace kestrel {
namespace {

TEST(Md5Test, MatchesTheReferenceSuite) {
    struct Case {
        const char* input;
        const char* digest;
    };
    // The test suite of RFC 1321, appendix A.5.
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) EXPECT_EQ(Md5Hex(c.input), c.digest) << '"' << c.input << '"';
}

TEST(Base64Test, EncodesTheReferenceVectors) {
    struct Case {
        const char* input;
        const char* encoded;
    };
    // RFC 4648 section 10, plus bytes above 0x7F and the last two alphabet letters.
    const Case cases[] = {
        {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff\xbf", "+/+/"},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    };
    for (const Case& c : cases) EXPECT_EQ(Base64Encode(c.input), c.encoded) << '"' << c.input << '"';
}

TEST(Base64Test, LongInputStaysOneLine) {
    // A header value must not break: 57 bytes once gave a trailing CR LF, more gave one inside.
    for (std::size_t length : {56u, 57u, 58u, 72u, 73u, 300u}) {
        std::string encoded = Base64Encode(std::string(length, 'u'));
        EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4) << length;
        EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos) << length;
    }
}

}  // namespace
}  // namespace kestrel
