#include "platform/clock.h"

#include <time.h>

namespace kestrel::platform {

std::uint64_t SystemTime100ns() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return FileTimeFromUnixTime(now.tv_sec, static_cast<std::uint32_t>(now.tv_nsec));
}

std::uint64_t MonotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
}

}  // namespace kestrel::platform
