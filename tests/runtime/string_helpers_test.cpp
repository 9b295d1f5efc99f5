#include "runtime/string_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kestrel {
namespace {

TEST(FormatStringTest, FormatsWithoutALengthLimit) {
    EXPECT_EQ(FormatString("%s: %s is online", "kestrel::CBaseCameraChannel::SetCameraState", "cam"),
              "kestrel::CBaseCameraChannel::SetCameraState: cam is online");
    EXPECT_EQ(FormatString("%d|%u|%05.1f|%c|%%", -7, 7u, 2.25, 'x'), "-7|7|002.2|x|%");
    // 64-bit arguments, as time values are printed.
    EXPECT_EQ(FormatString("%llu %lld", 18446744073709551615ull, -9223372036854775807ll - 1),
              "18446744073709551615 -9223372036854775808");
    EXPECT_EQ(FormatString(""), "");
    EXPECT_EQ(FormatString(nullptr), "");
    const std::string big(70000, 'q');
    EXPECT_EQ(FormatString("<%s>", big.c_str()), "<" + big + ">");
}

TEST(IsIntegerTest, AcceptsSignedDecimalsInRangeOnly) {
    struct Case {
        const char* text;
        bool accepted;
        std::int32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"+42", true, 42},
        {"-42", true, -42},
        {"007", true, 7},                          // leading zeros, as "%d" reads them
        {"-0", true, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"00000000000000000000012", true, 12},     // long but small
        {"", false, 0},
        {"+", false, 0},                           // a sign alone
        {"-", false, 0},
        {"+-1", false, 0},
        {"--1", false, 0},
        {" 1", false, 0},                          // "%d" would skip the blank; the text check does not
        {"1 ", false, 0},
        {"1a", false, 0},
        {"0x10", false, 0},
        {"1.5", false, 0},
        {"2147483648", false, 0},                  // one past the range
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"(none)", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::int32_t value = 12345;
        EXPECT_EQ(IsInteger(c.text, value), c.accepted);
        EXPECT_EQ(value, c.accepted ? c.value : 12345) << "a rejected text leaves the value alone";
    }
    std::int32_t value = 0;
    EXPECT_FALSE(IsInteger(std::string("1\0" "2", 3), value)) << "embedded NUL";
}

}  // namespace
}  // namespace kestrel
