// Clocks: the system time on the Windows file-time scale and a monotonic millisecond tick.
#ifndef QUILLON_PLATFORM_CLOCK_H
#define QUILLON_PLATFORM_CLOCK_H

#include <cstdint>

namespace kestrel::platform {

// 100-ns units per millisecond and per second on the file-time scale.
constexpr std::uint64_t kFileTimeUnitsPerMs = 10000;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000;
// 1970-01-01 00:00:00 UTC in 100-ns units since 1601-01-01 00:00:00 UTC.
constexpr std::uint64_t kFileTimeOfUnixEpoch = 116444736000000000ULL;

// A time given in seconds and nanoseconds since 1970-01-01 UTC on the file-time scale.
constexpr std::uint64_t FileTimeFromUnixTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    return kFileTimeOfUnixEpoch + std::uint64_t(seconds) * kFileTimeUnitsPerSecond + nanoseconds / 100;
}

// Current UTC time in 100-ns units since 1601-01-01 (FILETIME on Windows). Follows changes of
// the system clock, so durations measured with it can jump; use MonotonicMilliseconds for
// time-outs.
std::uint64_t SystemTime100ns();

// Milliseconds since an arbitrary fixed point; never goes back.
std::uint64_t MonotonicMilliseconds();

}  // namespace kestrel::platform

#endif
