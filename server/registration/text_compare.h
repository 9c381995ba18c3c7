// ASCII case-insensitive comparison: script keywords and names are ASCII,
// and bytes of other characters must compare exactly.
#pragma once

#include <algorithm>
#include <string_view>

namespace orbalin {

inline char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace orbalin
