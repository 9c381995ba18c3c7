#include "tool/report/range_check.h"

namespace quillon::report {
namespace {

int Digits(std::string_view text)
{
    int value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

// The fiscal memory holds dates of this century: YY is 2000 + YY.
int DaysInMonth(int month, int year)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsDate(std::string_view ddmmyy)
{
    if (ddmmyy.size() != 6)
        return false;
    const int day = Digits(ddmmyy.substr(0, 2));
    const int month = Digits(ddmmyy.substr(2, 2));
    const int year = 2000 + Digits(ddmmyy.substr(4, 2));
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year);
}

// YYMMDD as a number, so that dates compare in order.
int DateOrder(std::string_view ddmmyy)
{
    return Digits(ddmmyy.substr(4, 2)) * 10000 + Digits(ddmmyy.substr(2, 2)) * 100 + Digits(ddmmyy.substr(0, 2));
}

// The dialog passes any pair whose lengths add up ("12,000020"); a script
// that writes an end short or long has mistyped it.
std::string WrongLength(RangeKind kind, const std::string& from, const std::string& to)
{
    const std::size_t digits = kind == RangeKind::DateRange ? kDateDigits : kNumberDigits;
    if (from.size() == digits && to.size() == digits)
        return {};
    const std::string example(FindRangeDefaults(kind)->firstText);
    return "FROM and TO must be exactly " + std::to_string(digits) + " digits each, as " + example + "; given " +
           from + " and " + to;
}

}  // namespace

std::string RangeNonsense(RangeKind kind, std::string_view first, std::string_view second)
{
    const std::string from(first);
    const std::string to(second);
    if (kind == RangeKind::NoRange)
        return {};
    if (std::string wrong = WrongLength(kind, from, to); !wrong.empty())
        return wrong;
    if (kind == RangeKind::DateRange) {
        for (const std::string& date : {from, to}) {
            if (!IsDate(date))
                return date + " is not a date (DDMMYY)";
        }
        if (DateOrder(from) > DateOrder(to))
            return "FROM " + from + " is after TO " + to;
    } else if (kind == RangeKind::NumberRange && Digits(first) > Digits(second)) {
        return "FROM " + from + " is above TO " + to;
    }
    return {};
}

}  // namespace quillon::report
