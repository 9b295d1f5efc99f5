#include "rtsp/sha256.h"

#include <cstring>

namespace kestrel {
namespace {

// FIPS 180-4 section 4.2.2: the first 32 bits of the fractional parts of the cube roots of the
// first 64 primes.
constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

std::uint32_t RotateRight(std::uint32_t value, int count) { return (value >> count) | (value << (32 - count)); }

}  // namespace

CSha256::CSha256() { Reset(); }

void CSha256::Reset() {
    // FIPS 180-4 section 5.3.3.
    static const std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(m_state, kInitial, sizeof m_state);
    m_length = 0;
}

void CSha256::Transform(const std::uint8_t block[64]) {
    std::uint32_t schedule[64];
    for (int t = 0; t < 16; ++t) {
        schedule[t] = std::uint32_t(block[t * 4]) << 24 | std::uint32_t(block[t * 4 + 1]) << 16 |
                      std::uint32_t(block[t * 4 + 2]) << 8 | std::uint32_t(block[t * 4 + 3]);
    }
    for (int t = 16; t < 64; ++t) {
        std::uint32_t s0 = RotateRight(schedule[t - 15], 7) ^ RotateRight(schedule[t - 15], 18) ^ (schedule[t - 15] >> 3);
        std::uint32_t s1 = RotateRight(schedule[t - 2], 17) ^ RotateRight(schedule[t - 2], 19) ^ (schedule[t - 2] >> 10);
        schedule[t] = schedule[t - 16] + s0 + schedule[t - 7] + s1;
    }
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    std::uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int t = 0; t < 64; ++t) {
        std::uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        std::uint32_t choose = (e & f) ^ (~e & g);
        std::uint32_t temp1 = h + sum1 + choose + kRoundConstants[t] + schedule[t];
        std::uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        std::uint32_t temp2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + temp1;
        d = c;
        c = b;
        b = a;
        a = temp1 + temp2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void CSha256::Update(const void* data, std::size_t size) {
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t used = static_cast<std::size_t>(m_length % 64);
    m_length += size;
    if (used > 0) {
        std::size_t take = 64 - used < size ? 64 - used : size;
        std::memcpy(m_buffer + used, bytes, take);
        used += take;
        bytes += take;
        size -= take;
        if (used < 64) return;
        Transform(m_buffer);
    }
    for (; size >= 64; bytes += 64, size -= 64) Transform(bytes);
    if (size > 0) std::memcpy(m_buffer, bytes, size);
}

CSha256::Digest CSha256::Final() {
    std::uint64_t bits = m_length * 8;
    // Pad with 0x80 and zeros to 56 bytes mod 64, then the bit length, big-endian.
    static const std::uint8_t kPadding[64] = {0x80};
    std::size_t used = static_cast<std::size_t>(m_length % 64);
    Update(kPadding, used < 56 ? 56 - used : 120 - used);
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(length, sizeof length);
    Digest digest;
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * j));
    }
    Reset();
    return digest;
}

CSha256::HexDigest CSha256::FinalHex() {
    static const char kHex[] = "0123456789abcdef";
    Digest digest = Final();
    HexDigest hex;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        hex[i * 2] = kHex[digest[i] >> 4];
        hex[i * 2 + 1] = kHex[digest[i] & 0x0F];
    }
    hex[64] = '\0';
    return hex;
}

std::string Sha256Hex(std::string_view text) {
    CSha256 sha;
    sha.Update(text);
    return sha.FinalHex().data();
}

}  // namespace kestrel
