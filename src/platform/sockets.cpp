#include "platform/sockets.h"

#include <cstdio>

namespace kestrel::platform {

std::string FormatIpv4(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(address >> 24), unsigned(address >> 16 & 0xFF),
                  unsigned(address >> 8 & 0xFF), unsigned(address & 0xFF));
    return text;
}

}  // namespace kestrel::platform
