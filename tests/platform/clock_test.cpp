#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace kestrel::platform {
namespace {

TEST(ClockTest, FileTimeOfKnownDates) {
    struct Case {
        const char* date;
        std::int64_t unixSeconds;
        std::uint32_t nanoseconds;
        std::uint64_t fileTime;
    };
    const Case cases[] = {
        {"1601-01-01 00:00:00", -11644473600LL, 0, 0},
        {"1970-01-01 00:00:00", 0, 0, 116444736000000000ULL},
        {"2000-01-01 00:00:00", 946684800, 0, 125911584000000000ULL},
        {"2026-12-07 12:34:56.789", 1796646896, 789000000, 134411204967890000ULL},
        {"2106-02-07 06:28:16 (u32 seconds wrap)", 4294967296LL, 99, 159394408960000000ULL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileTimeFromUnixTime(c.unixSeconds, c.nanoseconds), c.fileTime) << c.date;
    }
}

TEST(ClockTest, SystemTimeIsUtcOnThe1601Scale) {
    auto unixNow = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    std::uint64_t expected = FileTimeFromUnixTime(unixNow / 1000000000, std::uint32_t(unixNow % 1000000000));
    std::uint64_t actual = SystemTime100ns();
    std::uint64_t difference = actual > expected ? actual - expected : expected - actual;
    EXPECT_LT(difference, 2 * kFileTimeUnitsPerSecond);
}

TEST(ClockTest, MonotonicTickAdvancesInMilliseconds) {
    std::uint64_t before = MonotonicMilliseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::uint64_t elapsed = MonotonicMilliseconds() - before;
    EXPECT_GE(elapsed, 24u);
    EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace kestrel::platform
