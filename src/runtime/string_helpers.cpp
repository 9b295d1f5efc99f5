#include "runtime/string_helpers.h"

#include <cstdio>
#include <limits>

namespace kestrel {

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

std::string FormatStringV(const char* format, va_list args) {
    if (!format) return std::string();
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    // One more byte for the terminator vsnprintf always writes; the string drops it afterwards.
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    va_list write;
    va_copy(write, args);
    int written = std::vsnprintf(&text[0], text.size(), format, write);
    va_end(write);
    if (written != length) return std::string();
    text.resize(static_cast<std::size_t>(length));
    return text;
}

bool IsInteger(const std::string& text, std::int32_t& value) {
    std::size_t pos = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        pos = 1;
    }
    if (pos == text.size()) return false;
    // Accumulated as a negative number, whose range includes INT32_MIN; overflow is refused
    // instead of wrapping.
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    const std::int64_t limit = negative ? kMin : -std::int64_t(std::numeric_limits<std::int32_t>::max());
    std::int64_t accumulated = 0;
    for (; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c < '0' || c > '9') return false;
        accumulated = accumulated * 10 - (c - '0');
        if (accumulated < limit) return false;
    }
    value = static_cast<std::int32_t>(negative ? accumulated : -accumulated);
    return true;
}

bool IsHeaderSafe(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == text.npos; }

}  // namespace kestrel
