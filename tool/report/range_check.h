// Ranges that pass the dialog's length rule but cannot be meant: an end
// that is not exactly four digits (numbers) or six (dates), a date that does
// not exist, or a lower end above the upper one. The dialog keeps its own
// checks; a script gets these too, before anything is sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tool/dialog/report_operations.h"

namespace quillon::report {

// Each end of a range as quillon-report takes it.
inline constexpr std::size_t kNumberDigits = 4;
inline constexpr std::size_t kDateDigits = 6;

// Why the range cannot be meant, or empty when it can. The texts are digits
// only and pass the dialog's rule for the whole range (checked before).
std::string RangeNonsense(RangeKind kind, std::string_view first, std::string_view second);

}  // namespace quillon::report
