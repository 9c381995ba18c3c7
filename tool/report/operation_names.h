// The eleven report operations by their English names (the table's), for
// scripts. The index is the dialog's list position.
#pragma once

#include <string_view>

#include "tool/dialog/report_operations.h"

namespace quillon::report {

// "z-report", "x-report", "tax-rates", ...; empty for an invalid index.
std::string_view OperationName(int index);

// An index 0..10 written in decimal, or a name (letter case ignored). Returns
// the index, or -1 when the text names no operation, so that composing the
// request gives the dialog's own no-operation message.
int FindOperation(std::string_view text);

// "none", "date" or "number".
std::string_view RangeKindName(RangeKind kind);

}  // namespace quillon::report
