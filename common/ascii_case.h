// ASCII case folding. Names, keywords and port names are ASCII; bytes of any
// other character compare exactly, whatever the C library's locale says.
#pragma once

#include <algorithm>
#include <string_view>

namespace lorvane {

inline constexpr char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline constexpr bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace lorvane
