#include "tool/report/operation_names.h"

#include <algorithm>

#include "common/ascii_case.h"

namespace quillon::report {
namespace {

// Plain decimal digits, at most two of them: "3", "07", "10".
int IndexFromDigits(std::string_view text)
{
    if (text.empty() || text.size() > 2)
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value < kReportOperationCount ? value : -1;
}

}  // namespace

std::string_view OperationName(int index)
{
    const ReportOperation* operation = FindReportOperation(index);
    return operation ? operation->name : std::string_view();
}

int FindOperation(std::string_view text)
{
    if (const int index = IndexFromDigits(text); index >= 0)
        return index;
    const auto operations = ReportOperations();
    const auto named = std::find_if(operations.begin(), operations.end(), [text](const ReportOperation& operation) {
        return lorvane::EqualsNoCase(text, operation.name);
    });
    return named == operations.end() ? -1 : static_cast<int>(named - operations.begin());
}

std::string_view RangeKindName(RangeKind kind)
{
    switch (kind) {
    case RangeKind::DateRange: return "date";
    case RangeKind::NumberRange: return "number";
    case RangeKind::NoRange: break;
    }
    return "none";
}

}  // namespace quillon::report
