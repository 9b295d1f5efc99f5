// SHA-256 message digest (FIPS 180-4), for Digest access authentication only (RFC 7616); not a
// general cryptographic library.
#ifndef QUILLON_RTSP_SHA256_H
#define QUILLON_RTSP_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

class CSha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;
    // 64 lower-case hex digits and a terminating NUL.
    using HexDigest = std::array<char, 65>;

    CSha256();
    void Update(const void* data, std::size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // Finishes the digest; the object then starts afresh.
    Digest Final();
    HexDigest FinalHex();

private:
    void Reset();
    void Transform(const std::uint8_t block[64]);

    std::uint32_t m_state[8];
    std::uint64_t m_length = 0;  // bytes hashed so far
    std::uint8_t m_buffer[64];
};

// The digest of `text` as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view text);

}  // namespace kestrel

#endif
