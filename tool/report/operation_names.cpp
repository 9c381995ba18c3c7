#include "tool/report/operation_names.h"

#include <array>
#include <cctype>

namespace quillon::report {
namespace {

// In list order: index = position in the dialog's operation list.
constexpr std::array<std::string_view, kReportOperationCount> kNames{
    "tax-rates",            // 50, two dates
    "z-report",             // 69 "1", daily report with zeroing
    "daily-registers",      // 69 "2", daily report and the registers
    "x-report",             // 69 "3", daily report without zeroing
    "x-report-registers",   // 69 "4", without zeroing, with the registers
    "fm-by-number",         // 73, fiscal memory by number
    "fm-by-date",           // 94, fiscal memory by date
    "z-report-articles",    // 108 "0"
    "x-report-articles",    // 108 "2"
    "fm-short-by-date",     // 79
    "fm-short-by-number",   // 95
};

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

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
    if (index < 0 || index >= kReportOperationCount)
        return {};
    return kNames[static_cast<std::size_t>(index)];
}

int FindOperation(std::string_view text)
{
    if (const int index = IndexFromDigits(text); index >= 0)
        return index;
    for (int i = 0; i < kReportOperationCount; ++i) {
        if (SameIgnoringCase(text, kNames[static_cast<std::size_t>(i)]))
            return i;
    }
    return -1;
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
