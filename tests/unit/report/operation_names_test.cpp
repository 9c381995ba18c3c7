#include "tool/report/operation_names.h"

#include <gtest/gtest.h>

#include <set>

namespace quillon::report {
namespace {

TEST(OperationNames, EveryRowHasItsOwnNameThatFindsItAgain)
{
    std::set<std::string_view> names;
    for (int i = 0; i < kReportOperationCount; ++i) {
        const std::string_view name = OperationName(i);
        EXPECT_FALSE(name.empty());
        names.insert(name);
        EXPECT_EQ(FindOperation(name), i);
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kReportOperationCount));
}

TEST(OperationNames, NamesSayWhatTheReportIs)
{
    // The commands and data texts behind the names people will script.
    const auto row = [](std::string_view name) { return FindReportOperation(FindOperation(name)); };
    EXPECT_EQ(row("tax-rates")->command, 50);
    EXPECT_EQ(row("z-report")->dataText, "1");
    EXPECT_EQ(row("x-report")->dataText, "3");
    EXPECT_EQ(row("fm-by-number")->command, 73);
    EXPECT_EQ(row("fm-by-date")->command, 94);
    EXPECT_EQ(row("z-report-articles")->dataText, "0");
    EXPECT_EQ(row("x-report-articles")->dataText, "2");
    EXPECT_EQ(row("fm-short-by-date")->command, 79);
    EXPECT_EQ(row("fm-short-by-number")->command, 95);
}

TEST(OperationNames, IndicesAndLetterCase)
{
    EXPECT_EQ(FindOperation("0"), 0);
    EXPECT_EQ(FindOperation("10"), 10);
    EXPECT_EQ(FindOperation("07"), 7);
    EXPECT_EQ(FindOperation("X-Report"), 3);
    for (std::string_view bad : {"11", "-1", "", "010", "3 ", " 3", "x_report", "x-report-", "+3"})
        EXPECT_EQ(FindOperation(bad), -1) << bad;
    EXPECT_TRUE(OperationName(11).empty());
    EXPECT_TRUE(OperationName(-1).empty());
}

TEST(OperationNames, RangeKinds)
{
    EXPECT_EQ(RangeKindName(RangeKind::NoRange), "none");
    EXPECT_EQ(RangeKindName(RangeKind::DateRange), "date");
    EXPECT_EQ(RangeKindName(RangeKind::NumberRange), "number");
}

}  // namespace
}  // namespace quillon::report
