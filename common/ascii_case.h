// ASCII case-insensitive comparison, for names that are ASCII by rule
// (registration script keywords, window titles, operation and port names):
// bytes of other characters compare exactly, whatever the locale. Portable,
// so that the native code of both deliverables shares it.
#pragma once

#include <algorithm>
#include <string_view>

namespace lorvane {

constexpr char AsciiLower(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace lorvane
