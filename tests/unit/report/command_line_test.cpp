#include "tool/report/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon::report {
namespace {

std::optional<CommandLine> Parse(std::vector<std::string_view> args, std::string* error = nullptr)
{
    std::string ignored;
    return ParseCommandLine(args, error ? *error : ignored);
}

TEST(ReportCommandLine, OperationAloneTakesTheDefaults)
{
    const auto line = Parse({"z-report"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->operation, "z-report");
    EXPECT_FALSE(line->first);
    EXPECT_TRUE(line->port.empty());
    EXPECT_EQ(line->totalWaitMs, kDefaultTotalWaitMs);
    EXPECT_FALSE(line->dryRun || line->trace || line->json);
}

TEST(ReportCommandLine, OptionsStandAnywhereInBothSpellings)
{
    const auto line = Parse({"fm-by-date", "--port=/dev/ttyUSB0", "010124", "--json", "310124", "--trace",
                             "--timeout-ms", "90000", "--dry-run", "--log", "z.log", "--wait-port=60",
                             "--state-dir", "/var/lib/q"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->port, "/dev/ttyUSB0");
    EXPECT_EQ(line->logPath, "z.log");
    EXPECT_EQ(line->portWaitSeconds, 60);
    EXPECT_EQ(line->stateDir, "/var/lib/q");
    EXPECT_EQ(*line->first, "010124");
    EXPECT_EQ(*line->second, "310124");
    EXPECT_EQ(line->totalWaitMs, 90000);
    EXPECT_TRUE(line->dryRun && line->trace && line->json);
}

TEST(ReportCommandLine, DoubleDashEndsTheOptions)
{
    const auto line = Parse({"--", "--list"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->operation, "--list");
    EXPECT_FALSE(line->list);
}

TEST(ReportCommandLine, ListHelpAndVersionNeedNoOperation)
{
    EXPECT_TRUE(Parse({"--list"})->list);
    EXPECT_TRUE(Parse({"--ports", "--json"})->ports);
    EXPECT_TRUE(Parse({"--help"})->help);
    EXPECT_TRUE(Parse({"-h"})->help);
    EXPECT_TRUE(Parse({"--version"})->version);
}

TEST(ReportCommandLine, BadArgumentsSayWhy)
{
    struct Case {
        std::vector<std::string_view> args;
        std::string_view reason;
    };
    const std::vector<Case> cases{
        {{}, "no OPERATION"},
        {{"--port"}, "--port needs a value"},
        {{"--port=", "z-report"}, "--port needs a port name"},
        {{"z-report", "--timeout-ms"}, "--timeout-ms needs a value"},
        {{"--timeout-ms", "0", "z-report"}, "--timeout-ms takes"},
        {{"--timeout-ms", "-5", "z-report"}, "--timeout-ms takes"},
        {{"--timeout-ms", "12x", "z-report"}, "--timeout-ms takes"},
        {{"--timeout-ms", "99999999999", "z-report"}, "--timeout-ms takes"},
        {{"--verbose", "z-report"}, "unknown option --verbose"},
        {{"--portable", "z-report"}, "unknown option --portable"},
        {{"--wait-port", "-1", "z-report"}, "--wait-port takes"},
        {{"--log=", "z-report"}, "--log needs a file name"},
        {{"fm-by-date", "010124"}, "FROM needs TO"},
        {{"fm-by-date", "1", "2", "3"}, "too many operands"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.args, &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(ReportCommandLine, WindowsPortsAreComOneTo256WithOrWithoutTheDevicePrefix)
{
    EXPECT_EQ(ComPortNumber("COM1"), 1);
    EXPECT_EQ(ComPortNumber("com4"), 4);
    EXPECT_EQ(ComPortNumber("COM12"), 12);
    EXPECT_EQ(ComPortNumber("\\\\.\\COM256"), 256);
    for (std::string_view bad : {"COM0", "COM01", "COM257", "COM1000", "COM", "LPT1", "/dev/ttyS0", "COM1 ", "COM-1"})
        EXPECT_EQ(ComPortNumber(bad), 0) << bad;
}

TEST(ReportCommandLine, JsonIsSeenEvenInArgumentsThatCannotBeParsed)
{
    const std::vector<std::string_view> bad{"--frobnicate", "--json"};
    EXPECT_TRUE(AsksForJson(bad));
    const std::vector<std::string_view> operand{"--", "--json"};
    EXPECT_FALSE(AsksForJson(operand));
}

}  // namespace
}  // namespace quillon::report
