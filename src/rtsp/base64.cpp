#include "rtsp/base64.h"

#include <cstdint>

namespace kestrel {

std::string Base64Encode(std::string_view bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t group = std::uint32_t(std::uint8_t(bytes[i])) << 16 |
                              std::uint32_t(std::uint8_t(bytes[i + 1])) << 8 | std::uint8_t(bytes[i + 2]);
        out += kAlphabet[group >> 18];
        out += kAlphabet[group >> 12 & 0x3F];
        out += kAlphabet[group >> 6 & 0x3F];
        out += kAlphabet[group & 0x3F];
    }
    std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t group = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (left == 2) group |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        out += kAlphabet[group >> 18];
        out += kAlphabet[group >> 12 & 0x3F];
        out += left == 2 ? kAlphabet[group >> 6 & 0x3F] : '=';
        out += '=';
    }
    return out;
}

}  // namespace kestrel
