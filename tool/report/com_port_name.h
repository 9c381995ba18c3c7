// The number in a Windows serial port name, "COM5". Narrow or wide: the
// command line gives one, the device tree and the registry the other.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "common/ascii_case.h"

namespace quillon::report {

// The highest COMn that --port opens and --ports lists: one limit, so that
// every port listed can be named.
inline constexpr unsigned kHighestComPort = 256;

// n of "COMn" or "\\.\COMn" (letter case ignored), n from 1 to highest and
// written without a leading zero; 0 for anything else. Trailing NULs are
// ignored: registry data keeps its terminator.
template <typename Char>
unsigned ComPortNumber(std::basic_string_view<Char> name, unsigned highest)
{
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    constexpr std::string_view kCom = "com";
    while (!name.empty() && name.back() == Char('\0'))
        name.remove_suffix(1);
    if (name.size() > kDevicePrefix.size() &&
        std::equal(kDevicePrefix.begin(), kDevicePrefix.end(), name.begin(),
                   [](char a, Char b) { return Char(a) == b; }))
        name.remove_prefix(kDevicePrefix.size());
    if (name.size() <= kCom.size() || name[kCom.size()] == Char('0'))
        return 0;
    for (std::size_t i = 0; i < kCom.size(); ++i) {
        // Only ASCII can fold to a letter of "com": a wide character must not
        // be cut down to one.
        const auto code = static_cast<std::uint32_t>(name[i]);
        if (code > 0x7F || lorvane::AsciiLower(static_cast<char>(code)) != kCom[i])
            return 0;
    }
    unsigned number = 0;
    for (const Char c : name.substr(kCom.size())) {
        if (c < Char('0') || c > Char('9'))
            return 0;
        number = number * 10 + static_cast<unsigned>(c - Char('0'));
        if (number > highest)
            return 0;
    }
    return number;
}

}  // namespace quillon::report
