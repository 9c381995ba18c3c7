// The number in a Windows serial port name, "COM5". Narrow or wide: the
// command line gives one, the device tree and the registry the other.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/ascii_case.h"

namespace quillon::report {

// n of "COMn" (letter case ignored), n from 1 to highest and written without
// a leading zero; 0 for anything else.
template <typename Char>
unsigned ComNameNumber(std::basic_string_view<Char> name, unsigned highest)
{
    constexpr std::string_view kCom = "com";
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
