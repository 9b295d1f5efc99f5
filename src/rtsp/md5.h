// MD5 message digest (RFC 1321), for Digest access authentication only; not for security
// beyond what that scheme offers.
#ifndef QUILLON_RTSP_MD5_H
#define QUILLON_RTSP_MD5_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

class CMd5 {
public:
    using Digest = std::array<std::uint8_t, 16>;
    // 32 lower-case hex digits and a terminating NUL.
    using HexDigest = std::array<char, 33>;

    CMd5();
    void Update(const void* data, std::size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // Finishes the digest; the object then starts afresh.
    Digest Final();
    HexDigest FinalHex();

private:
    void Reset();
    void Transform(const std::uint8_t block[64]);

    std::uint32_t m_state[4];
    std::uint64_t m_length = 0;  // bytes hashed so far
    std::uint8_t m_buffer[64];
};

// The digest of `text` as 32 lower-case hex digits.
std::string Md5Hex(std::string_view text);

}  // namespace kestrel

#endif
