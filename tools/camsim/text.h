// Small text helpers of the simulator's protocol code.
#ifndef QUILLON_TOOLS_CAMSIM_TEXT_H
#define QUILLON_TOOLS_CAMSIM_TEXT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace camsim {

std::string Lower(std::string text);
std::string Trim(const std::string& text);
bool EqualsNoCase(const std::string& a, const std::string& b);
std::vector<std::string> Split(const std::string& text, char separator);
// "%XX" and "+" decoded, as in a form body or query.
std::string PercentDecode(const std::string& text);
// "a=1&b=2" into its pairs, values decoded; later names win.
std::map<std::string, std::string> ParseQuery(const std::string& text);
// `digits` lower-case hex digits of the low bits of `value`.
std::string HexText(std::uint64_t value, int digits);
// A decimal number of at most nine digits; false for anything else.
bool ParseNumber(const std::string& text, unsigned& value);

}  // namespace camsim

#endif
