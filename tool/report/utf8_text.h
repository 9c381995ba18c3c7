// Windows-1251 bytes to UTF-8, for the console program's output. Portable:
// the fixed Bulgarian texts stay 1251 bytes in one place and are converted
// only where they are printed.
#pragma once

#include <string>
#include <string_view>

namespace quillon::report {

// Every byte maps to one character; the one unassigned byte (0x98) becomes U+FFFD.
std::string Utf8From1251(std::string_view text);

}  // namespace quillon::report
