#include "command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon::sim {
namespace {

std::optional<CommandLine> Parse(std::vector<std::string_view> args, std::string* errorOut = nullptr)
{
    std::string error;
    auto line = ParseCommandLine(args, error);
    if (errorOut)
        *errorOut = error;
    return line;
}

TEST(CommandLine, ReadsEveryOption)
{
    const auto line = Parse({"--link", "/tmp/COM1", "--trace", "t.log", "--delay", "700", "--syn-every", "200",
                             "--silent", "--nak", "--noise", "--zero-in-frame", "--bad-length", "--wrong-command",
                             "--unsolicited", "1500", "--tax-error", "--bad-checksum", "--wrong-sequence",
                             "--answer-bytes", "212", "--repeat-memory", "--echo", "--first-try", "swallow",
                             "--first-try-command", "69", "--last-sequence", "0x7F", "--ran-log", "ran.log"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->linkPath, "/tmp/COM1");
    EXPECT_EQ(line->tracePath, "t.log");
    const auto& p = line->printer;
    EXPECT_EQ(p.delayMs, 700);
    EXPECT_EQ(p.synEveryMs, 200);
    EXPECT_EQ(p.unsolicitedMs, 1500);
    EXPECT_TRUE(p.silent && p.nak && p.noise && p.taxError);
    EXPECT_TRUE(p.faults.zeroInFrame && p.faults.badLength && p.faults.wrongCommand);
    EXPECT_TRUE(p.faults.badChecksum && p.faults.wrongSequence && p.repeatMemory);
    EXPECT_EQ(p.faults.answerBytes, 212u);
    EXPECT_TRUE(p.echo);
    EXPECT_EQ(p.firstTry, FirstTryFault::Swallow);
    EXPECT_EQ(p.firstTryCommand, 69);
    EXPECT_EQ(p.lastSequence, 0x7F);
    EXPECT_EQ(line->ranLogPath, "ran.log");
    for (const std::string_view fault : {"lose", "damage", "nak"})
        EXPECT_EQ(FirstTryFaultName(Parse({"--device", "d", "--first-try", fault})->printer.firstTry), fault);
}

TEST(CommandLine, RefusesWhatItCannotUse)
{
    for (const auto& args : std::vector<std::vector<std::string_view>>{
             {},                                             // no line at all
             {"--link", "a", "--device", "b"},               // two lines
             {"--link"},                                     // missing value
             {"--link", ""},
             {"--device", "/dev/ttyS0", "--delay", "-1"},
             {"--device", "/dev/ttyS0", "--delay", "12ms"},
             {"--device", "/dev/ttyS0", "--delay", "99999999999999999999"},
             {"--device", "/dev/ttyS0", "--loud"},
             {"--device", "/dev/ttyS0", "--answer-bytes", "213"},   // past length byte 0xFF
             {"--device", "/dev/ttyS0", "--answer-bytes", "-1"},
             {"--device", "/dev/ttyS0", "--first-try", "drop"},
             {"--device", "/dev/ttyS0", "--last-sequence", "0x100"},
             {"--device", "/dev/ttyS0", "--first-try-command", "0x"},
         }) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(Parse({"--help"})->help);
}

}  // namespace
}  // namespace quillon::sim
