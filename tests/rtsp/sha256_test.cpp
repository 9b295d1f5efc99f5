#include <gtest/gtest.h>

#include <string>

#include "rtsp/sha256.h"

namespace kestrel {
namespace {

TEST(Sha256Test, MatchesTheNistVectors) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        // FIPS 180-4 examples (NIST CSRC "SHA256.pdf", "SHA2_Additional.pdf").
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // two blocks after padding
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // The padding's edges: 55 bytes still take the length in the same block, 56 do not.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const Case& c : cases) EXPECT_EQ(Sha256Hex(c.input), c.digest) << c.input.size() << " bytes";
}

TEST(Sha256Test, PiecesOfAnySizeGiveTheSameDigest) {
    const std::string input(1000000, 'a');
    for (std::size_t piece : {1u, 63u, 64u, 65u, 1000u}) {
        CSha256 sha;
        for (std::size_t at = 0; at < input.size(); at += piece) sha.Update(std::string_view(input).substr(at, piece));
        EXPECT_STREQ(sha.FinalHex().data(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0") << piece;
        // Final starts afresh.
        EXPECT_STREQ(sha.FinalHex().data(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    }
}

}  // namespace
}  // namespace kestrel
