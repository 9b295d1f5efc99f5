#include "platform/clock.h"

#include <windows.h>

namespace kestrel::platform {

std::uint64_t SystemTime100ns() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::uint64_t MonotonicMilliseconds() { return ::GetTickCount64(); }

}  // namespace kestrel::platform
