// String helpers used throughout the module.
#ifndef QUILLON_RUNTIME_STRING_HELPERS_H
#define QUILLON_RUNTIME_STRING_HELPERS_H

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// printf-style formatting into a string of exactly the needed length, without a length limit.
// A null format or a format the C library cannot apply gives "".
std::string FormatString(const char* format, ...);
std::string FormatStringV(const char* format, va_list args);

// True if text is one or more decimal digits with at most one leading '+' or '-' and the number
// fits a signed 32-bit integer; value is then set. Otherwise false and value is left alone.
bool IsInteger(const std::string& text, std::int32_t& value);

// True when text may go onto a request line or into a header: a CR, LF or NUL would end the line
// early and let the rest pass as headers of its own.
bool IsHeaderSafe(std::string_view text);

}  // namespace kestrel

#endif
