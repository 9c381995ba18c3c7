// The simulator's soak mode: one fault per request from a seeded generator.
#include <gtest/gtest.h>

#include <map>

#include "printer.h"
#include "sim_test_bytes.h"
#include "soak_faults.h"
#include "tool/link/fiscal_frame.h"

namespace quillon::sim {
namespace {

using test::Hex;
using test::RecordingOutput;

TEST(SoakFaults, TheSameSeedDrawsTheSameFaultsAndEveryKindTurnsUp)
{
    std::map<SoakFault, int> counts;
    for (std::uint64_t i = 0; i < 2000; ++i) {
        const SoakFault fault = SoakFaultFor(7, i);
        EXPECT_EQ(fault, SoakFaultFor(7, i));
        ++counts[fault];
    }
    ASSERT_EQ(counts.size(), static_cast<std::size_t>(kSoakFaultKinds));
    for (const auto& [fault, count] : counts)
        EXPECT_GT(count, 2000 / kSoakFaultKinds / 2) << SoakFaultName(fault);
    int differs = 0;
    for (std::uint64_t i = 0; i < 100; ++i)
        differs += SoakFaultFor(7, i) != SoakFaultFor(8, i);
    EXPECT_GT(differs, 50);
}

// Finds, for each kind, the index of a request of seed 1 that meets it.
std::map<SoakFault, std::uint64_t> FirstOfEachKind()
{
    std::map<SoakFault, std::uint64_t> first;
    for (std::uint64_t i = 0; first.size() < kSoakFaultKinds; ++i)
        first.emplace(SoakFaultFor(1, i), i);
    return first;
}

// Plays request after request against a soak-mode simulator and returns
// what it sent for the request of the given index, with the time span.
std::vector<std::uint8_t> PlayTo(std::uint64_t index, std::int64_t spanMs, RecordingOutput& output)
{
    PrinterOptions options;
    options.soakSeed = 1;
    PrinterSim printer(options, output, 0);
    std::int64_t now = 0;
    for (std::uint64_t i = 0; i <= index; ++i) {
        output.Take();
        now += 10'000;   // every earlier fault has played out
        printer.Advance(now);
        output.Take();
        printer.Receive(Hex(test::kRequest69), now);
    }
    for (std::int64_t t = now; t <= now + spanMs; ++t)
        printer.Advance(t);
    return output.Take();
}

TEST(SoakMode, PlaysEachFaultOnItsRequest)
{
    const auto first = FirstOfEachKind();
    const auto plain = BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    const auto count = [](const std::vector<std::uint8_t>& bytes, std::uint8_t b) {
        return std::count(bytes.begin(), bytes.end(), b);
    };
    for (const auto& [fault, index] : first) {
        RecordingOutput output;
        const auto sent = PlayTo(index, 2000, output);
        const std::string name(SoakFaultName(fault));
        EXPECT_NE(std::find(output.traces.begin(), output.traces.end(),
                            "SOAK request=" + std::to_string(index) + " fault=" + name),
                  output.traces.end()) << name;
        switch (fault) {
        case SoakFault::None:
        case SoakFault::Late:
            EXPECT_EQ(sent, plain) << name;
            break;
        case SoakFault::NoiseBefore:
            EXPECT_EQ(std::vector(sent.end() - plain.size(), sent.end()), plain) << name;
            EXPECT_GT(sent.size(), plain.size());
            break;
        case SoakFault::NoiseAfter:
            EXPECT_EQ(std::vector(sent.begin(), sent.begin() + plain.size()), plain) << name;
            EXPECT_GT(sent.size(), plain.size());
            break;
        case SoakFault::Nak: EXPECT_EQ(sent, Hex("15")); break;
        case SoakFault::Silence: EXPECT_TRUE(sent.empty()); break;
        case SoakFault::ZeroInFrame: EXPECT_EQ(count(sent, 0), 1) << name; break;
        case SoakFault::BadLength: EXPECT_EQ(sent.at(1), ResponseLayout::kBadLengthByte); break;
        case SoakFault::WrongCommand: EXPECT_EQ(sent.at(3), WrongCommand(69)); break;
        case SoakFault::SynThenAnswer:
            // SYN every 100 ms until the answer at 650 ms.
            EXPECT_EQ(std::vector(sent.begin(), sent.begin() + 6), Hex("16 16 16 16 16 16")) << name;
            EXPECT_EQ(std::vector(sent.begin() + 6, sent.end()), plain) << name;
            break;
        case SoakFault::UnsolicitedAfter:
            ASSERT_GT(sent.size(), plain.size()) << name;
            EXPECT_EQ(std::vector(sent.begin(), sent.begin() + plain.size()), plain) << name;
            EXPECT_EQ(sent[plain.size()], FiscalFrame::kStart) << name;
            break;
        }
    }
}

TEST(SoakMode, ALateAnswerComesAfterTheTimeOutAndASynAnswerAfterTheFirstPeriod)
{
    const auto first = FirstOfEachKind();
    for (const SoakFault fault : {SoakFault::Late, SoakFault::SynThenAnswer}) {
        RecordingOutput early;
        const auto withinPeriod = PlayTo(first.at(fault), 500, early);
        EXPECT_EQ(std::count(withinPeriod.begin(), withinPeriod.end(), FiscalFrame::kStart), 0)
            << SoakFaultName(fault);
    }
}

// The extra frame may come after the next request has arrived; it still
// carries the byte of the request whose answer it follows.
TEST(SoakMode, TheUnsolicitedFrameCarriesTheByteOfTheRequestItFollows)
{
    const std::uint64_t index = FirstOfEachKind().at(SoakFault::UnsolicitedAfter);
    ASSERT_NE(SoakFaultFor(1, index + 1), SoakFault::UnsolicitedAfter);
    RecordingOutput output;
    PrinterOptions options;
    options.soakSeed = 1;
    PrinterSim printer(options, output, 0);
    for (std::uint64_t i = 0; i < index; ++i)
        printer.Receive(Hex(test::kRequest44), static_cast<std::int64_t>(i) * 10'000);
    const std::int64_t at = static_cast<std::int64_t>(index) * 10'000;
    printer.Receive(Hex(test::kRequest69), at);                              // sequence byte 0x21
    printer.Receive(Hex("01 25 22 45 31 05 30 30 3C 32 03"), at + 50);       // 0x22, before the frame
    output.traces.clear();
    for (std::int64_t t = at + 50; t <= at + 2000; ++t)
        printer.Advance(t);
    const auto unsolicited = std::find_if(output.traces.begin(), output.traces.end(),
                                          [](const std::string& line) { return line.ends_with(" fault=unsolicited"); });
    ASSERT_NE(unsolicited, output.traces.end());
    EXPECT_NE(unsolicited->find(" cmd=69 seq=0x21 "), std::string::npos) << *unsolicited;
}

TEST(SoakMode, ExpectedOutcomesFollowTheFault)
{
    EXPECT_TRUE(ExpectedOutcome(SoakFault::NoiseBefore).answered);
    EXPECT_TRUE(ExpectedOutcome(SoakFault::WrongCommand).answered);
    EXPECT_TRUE(ExpectedOutcome(SoakFault::SynThenAnswer).answered);
    const SoakOutcome late = ExpectedOutcome(SoakFault::Late);
    EXPECT_FALSE(late.answered);
    EXPECT_TRUE(late.unsolicited);
    EXPECT_TRUE(ExpectedOutcome(SoakFault::BadLength).addCharMessage);
    EXPECT_FALSE(ExpectedOutcome(SoakFault::ZeroInFrame).answered);
}

}  // namespace
}  // namespace quillon::sim
