// Ranges that pass the dialog's length rule but cannot be meant: a date
// that does not exist, or a lower end above the upper one. The dialog keeps
// its own checks; a script gets these too, before anything is sent.
#pragma once

#include <string>
#include <string_view>

#include "tool/dialog/report_operations.h"

namespace quillon::report {

// Why the range cannot be meant, or empty when it can. The texts are
// digits only and of the lengths the operation takes (checked before).
std::string RangeNonsense(RangeKind kind, std::string_view first, std::string_view second);

}  // namespace quillon::report
