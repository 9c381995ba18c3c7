#include "tool/report/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "tool/report/com_port_name.h"

namespace quillon::report {
namespace {

using namespace std::string_view_literals;

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
        {{"--log", "--json", "z-report"}, "--log needs a value, not --json"},
        {{"--port=--dry-run", "z-report"}, "--port needs a value, not --dry-run"},
        {{"--timeout-ms", "--", "z-report"}, "--timeout-ms needs a value, not --"},
        {{"fm-by-date", "010124"}, "FROM needs TO"},
        {{"fm-by-date", "1", "2", "3"}, "too many operands"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.args, &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(ReportCommandLine, WindowsPortsAreComOneToTheHighestWithOrWithoutTheDevicePrefix)
{
    EXPECT_EQ(ComPortNumber("COM1"sv, kHighestComPort), 1u);
    EXPECT_EQ(ComPortNumber("com4"sv, kHighestComPort), 4u);
    EXPECT_EQ(ComPortNumber("COM12"sv, kHighestComPort), 12u);
    EXPECT_EQ(ComPortNumber("\\\\.\\COM256"sv, kHighestComPort), 256u);
    EXPECT_EQ(ComPortNumber("COM300"sv, 9999), 300u);
    for (std::string_view bad : {"COM0", "COM01", "COM257", "COM1000", "COM", "LPT1", "/dev/ttyS0", "COM1 ", "COM-1",
                                 "\\\\.\\", "\\\\.\\LPT1"})
        EXPECT_EQ(ComPortNumber(bad, kHighestComPort), 0u) << bad;
    // The device tree and the registry give wide names; registry data keeps its NUL.
    EXPECT_EQ(ComPortNumber(L"com12"sv, kHighestComPort), 12u);
    EXPECT_EQ(ComPortNumber(L"COM3\0"sv, kHighestComPort), 3u);
    EXPECT_EQ(ComPortNumber(L"COM257"sv, kHighestComPort), 0u);
    EXPECT_EQ(ComPortNumber(L"\u0421OM1"sv, kHighestComPort), 0u);   // a Cyrillic Es is no C
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
