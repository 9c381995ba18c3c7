// Windows-1251 bytes to UTF-8, for the console program's output. Portable:
// the fixed Bulgarian texts stay 1251 bytes in one place and are converted
// only where they are printed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::report {

// Every byte maps to one character; the one unassigned byte (0x98) becomes U+FFFD.
std::string Utf8From1251(std::string_view text);

// The UTF-8 of a byte that is a Cyrillic letter in Windows-1251 (0xC0..0xFF,
// 0xA8, 0xB8), else empty: how DataText shows the letters of an answer.
std::string CyrillicLetterUtf8(std::uint8_t b);

}  // namespace quillon::report
