#include "printer.h"

#include <gtest/gtest.h>

#include "sim_test_bytes.h"
#include "tool/link/fiscal_frame.h"

namespace quillon::sim {
namespace {

using test::Hex;
using test::RecordingOutput;

template <typename Set>
PrinterOptions With(Set set)
{
    PrinterOptions options;
    set(options);
    return options;
}

class PrinterSimTest : public ::testing::Test {
protected:
    PrinterSim& Start(const PrinterOptions& options)
    {
        printer.emplace(options, output, 0);
        return *printer;
    }

    RecordingOutput output;
    std::optional<PrinterSim> printer;
};

const std::vector<std::uint8_t> kAnswer69 = BuildResponse(69, 0x21, test::Bytes("1,0.00,123.45,67.80,9.10")).bytes;

// The request frame as the tool builds it; sequence number 1 is byte 0x21.
std::vector<std::uint8_t> RequestBytes(std::int32_t sequenceNumber, std::uint8_t command, const std::string& data = {})
{
    RequestFrame request;
    request.sequence = sequenceNumber;
    request.command = command;
    request.data = reinterpret_cast<const std::uint8_t*>(data.data());
    request.dataLength = static_cast<std::int32_t>(data.size());
    BuildRequestFrame(request);
    return {request.frame.begin(), request.frame.begin() + request.FrameSize()};
}

std::vector<std::uint8_t> RanCommands(const RecordingOutput& output)
{
    std::vector<std::uint8_t> commands;
    for (const auto& request : output.ran)
        commands.push_back(request.command);
    return commands;
}

TEST_F(PrinterSimTest, AnswersEachRequestOnceWithItsCommandAndSequence)
{
    auto& p = Start({});
    p.Receive(Hex(test::kRequest69), 10);
    EXPECT_EQ(output.Take(), kAnswer69);
    p.Receive(Hex("01 25 22 45 31 05 30 30 3C 32 03"), 20);   // sequence 2
    const auto second = output.Take();
    ASSERT_GT(second.size(), 4u);
    EXPECT_EQ(second[2], 0x22);
    EXPECT_EQ(second[3], 69);
    EXPECT_FALSE(p.NextDeadline());
}

TEST_F(PrinterSimTest, AnswersTheStatusRequestWithTheStatusBytesAlone)
{
    auto& p = Start({});
    p.Receive(RequestBytes(5, PrinterCommand::kStatus), 0);
    const auto sent = output.Take();
    EXPECT_EQ(sent, BuildResponse(74, 0x25, {}).bytes);
    ASSERT_EQ(sent.size(), 17u);
    EXPECT_EQ(std::vector(sent.begin() + 5, sent.begin() + 11),
              std::vector(ResponseLayout::kStatus.begin(), ResponseLayout::kStatus.end()));
    EXPECT_EQ(output.traces.at(1), "RUN cmd=74 seq=0x25 data=\"\"");
}

TEST_F(PrinterSimTest, AnswersCorruptRequestsWithNakAndIgnoresStrayBytes)
{
    auto& p = Start({});
    p.Receive(Hex("7E 7E"), 0);
    EXPECT_TRUE(output.Take().empty());
    p.Receive(Hex("01 25 21 45 31 05 30 30 3C 32 03"), 0);
    EXPECT_EQ(output.Take(), Hex("15"));
    p.Receive(Hex("01 25 21"), 0);
    EXPECT_TRUE(output.Take().empty());
    ASSERT_EQ(p.NextDeadline(), RequestParser::kByteGapMs);
    p.Advance(RequestParser::kByteGapMs);
    EXPECT_EQ(output.Take(), Hex("15"));
}

TEST_F(PrinterSimTest, DelaysTheAnswerAndSendsSynMeanwhile)
{
    auto& p = Start(With([](PrinterOptions& o) { o.delayMs = 1000; o.synEveryMs = 300; }));
    p.Receive(Hex(test::kRequest69), 100);
    EXPECT_TRUE(output.Take().empty());
    std::vector<std::int64_t> synTimes;
    for (std::int64_t now = 100; now <= 1100; ++now) {
        p.Advance(now);
        const auto sent = output.Take();
        if (sent == Hex("16"))
            synTimes.push_back(now);
        else if (!sent.empty()) {
            EXPECT_EQ(now, 1100);
            EXPECT_EQ(sent, kAnswer69);
        }
    }
    EXPECT_EQ(synTimes, (std::vector<std::int64_t>{400, 700, 1000}));
    EXPECT_FALSE(p.NextDeadline());   // no SYN once nothing waits
}

TEST_F(PrinterSimTest, AnswerFaultsReachTheWireAndTheTrace)
{
    auto& p = Start(With([](PrinterOptions& o) {
        o.faults = {.badChecksum = true, .wrongSequence = true, .answerBytes = 212};
    }));
    p.Receive(Hex(test::kRequest69), 0);
    const auto sent = output.Take();
    ASSERT_EQ(sent.size(), 229u);
    EXPECT_EQ(std::string(sent.begin() + 4, sent.begin() + 6), "1,");   // the answer, padded
    EXPECT_FALSE(ChecksumMatches(sent));
    EXPECT_TRUE(output.traces.back().ends_with(" checksum=bad fault=bad-checksum,wrong-sequence"));
}

// The client asks again with the same sequence byte when it lost an answer.
TEST_F(PrinterSimTest, ARepeatedSequenceIsRunAgainUnlessThePrinterRemembers)
{
    auto& plain = Start({});
    plain.Receive(Hex(test::kRequest69), 0);
    EXPECT_EQ(output.Take(), kAnswer69);
    plain.Receive(Hex(test::kRequest44), 10);   // sequence 1 again
    EXPECT_EQ(output.Take(), BuildResponse(44, 0x21, test::Bytes("P")).bytes);

    // The repeat comes while the first answer still waits, and the memory must
    // match the request's sequence byte, not the wrong one that was sent.
    auto& p = Start(With([](PrinterOptions& o) {
        o.repeatMemory = true;
        o.delayMs = 100;
        o.faults.wrongSequence = true;
    }));
    p.Receive(Hex(test::kRequest69), 0);
    p.Receive(Hex(test::kRequest44), 50);
    p.Advance(100);
    const auto first = output.Take();
    EXPECT_TRUE(output.traces.back().ends_with(" fault=wrong-sequence"));
    p.Advance(150);
    EXPECT_EQ(output.Take(), first);
    EXPECT_TRUE(output.traces.back().ends_with(" fault=from-memory"));
    p.Receive(Hex("01 25 22 45 31 05 30 30 3C 32 03"), 200);   // sequence 2
    p.Advance(300);
    EXPECT_EQ(output.Take().at(2), 0x23);
    EXPECT_TRUE(output.traces.back().ends_with(" fault=wrong-sequence"));
}

// Each fault plays on a request's first try; the same bytes again are taken
// as usual, so with memory the report runs once whatever the line did.
TEST_F(PrinterSimTest, FirstTryFaultsHitOnlyTheFirstTryAndTheRetryIsAnswered)
{
    const auto zReport = RequestBytes(2, 69, "1");
    const auto answer = BuildResponse(69, 0x22, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    const std::pair<FirstTryFault, std::vector<std::uint8_t>> cases[] = {
        {FirstTryFault::Lose, {}},
        {FirstTryFault::Damage, {}},   // the answer with a bad checksum, checked below
        {FirstTryFault::Nak, Hex("15")},
        {FirstTryFault::Swallow, {}},
    };
    for (const auto& [fault, firstSent] : cases) {
        const std::string name(FirstTryFaultName(fault));
        const auto traced = [this, &name](const std::string& sequence) {
            const std::string line = "FIRST-TRY fault=" + name + " cmd=69 seq=0x" + sequence;
            return std::find(output.traces.begin(), output.traces.end(), line) != output.traces.end();
        };
        auto& p = Start(With([f = fault](PrinterOptions& o) {
            o.repeatMemory = true;
            o.firstTry = f;
            o.firstTryCommand = 69;
        }));
        p.Receive(RequestBytes(1, PrinterCommand::kStatus), 0);   // another command: untouched
        EXPECT_EQ(output.Take(), BuildResponse(74, 0x21, {}).bytes) << name;
        p.Receive(zReport, 10);
        const auto first = output.Take();
        if (fault == FirstTryFault::Damage) {
            ASSERT_EQ(first.size(), answer.size());
            EXPECT_FALSE(ChecksumMatches(first));
            EXPECT_TRUE(output.traces.back().ends_with(" checksum=bad fault=damaged"));
        } else {
            EXPECT_EQ(first, firstSent) << name;
        }
        EXPECT_TRUE(traced("22")) << name;
        p.Receive(zReport, 20);
        EXPECT_EQ(output.Take(), answer) << name;
        EXPECT_EQ(RanCommands(output), (std::vector<std::uint8_t>{74, 69})) << name;
        p.Receive(RequestBytes(3, 69, "1"), 30);   // a new request meets the fault again
        EXPECT_TRUE(traced("23")) << name;
        output = RecordingOutput{};
    }
}

TEST_F(PrinterSimTest, AnEchoComesBackAtOnceAndTheAnswerAfterIt)
{
    auto& p = Start(With([](PrinterOptions& o) { o.echo = true; o.delayMs = 100; }));
    p.Receive(Hex(test::kRequest69), 0);
    EXPECT_EQ(output.Take(), Hex(test::kRequest69));
    EXPECT_EQ(output.traces.back(), "TX ECHO " + test::kRequest69);
    p.Advance(100);
    EXPECT_EQ(output.Take(), kAnswer69);
}

TEST_F(PrinterSimTest, ThePrintersLastSequenceByteIsAnsweredFromMemoryWithoutRunning)
{
    auto& p = Start(With([](PrinterOptions& o) { o.repeatMemory = true; o.lastSequence = 0x21; }));
    p.Receive(Hex(test::kRequest69), 0);   // a Z report that carries the X report's byte
    EXPECT_EQ(output.Take(), BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("3"), false))).bytes);
    EXPECT_TRUE(output.ran.empty());
    p.Receive(RequestBytes(2, 69, "1"), 10);
    EXPECT_EQ(RanCommands(output), std::vector<std::uint8_t>{69});
}

TEST_F(PrinterSimTest, SilentNeverAnswersAndNakModeRefusesEverything)
{
    auto& silent = Start(With([](PrinterOptions& o) { o.silent = true; }));
    silent.Receive(Hex(test::kRequest69 + " 01 10"), 0);
    silent.Advance(10'000);
    EXPECT_TRUE(output.Take().empty());
    EXPECT_EQ(output.traces.size(), 2u);   // still traced

    auto& nak = Start(With([](PrinterOptions& o) { o.nak = true; }));
    nak.Receive(Hex(test::kRequest69 + test::kRequest44), 0);
    EXPECT_EQ(output.Take(), Hex("15 15"));
}

TEST_F(PrinterSimTest, NoiseSurroundsTheResponseWithoutControlBytes)
{
    auto& p = Start(With([](PrinterOptions& o) { o.noise = true; }));
    p.Receive(Hex(test::kRequest69), 0);
    const auto sent = output.Take();
    const auto at = std::search(sent.begin(), sent.end(), kAnswer69.begin(), kAnswer69.end());
    ASSERT_NE(at, sent.end());
    EXPECT_GT(at - sent.begin(), 0);
    EXPECT_LT(at - sent.begin() + kAnswer69.size(), sent.size());
    for (auto it = sent.begin(); it != sent.end(); ++it) {
        if (it == at)
            it += static_cast<std::ptrdiff_t>(kAnswer69.size()) - 1;
        else
            EXPECT_TRUE(*it != 0x01 && *it != 0x15 && *it != 0x16) << "noise byte " << int{*it};
    }
}

TEST_F(PrinterSimTest, SendsUnsolicitedResponsesPeriodically)
{
    auto& p = Start(With([](PrinterOptions& o) { o.unsolicitedMs = 250; }));
    EXPECT_EQ(p.NextDeadline(), 250);
    int frames = 0;
    for (std::int64_t now = 0; now <= 1000; now += 50) {
        p.Advance(now);
        const auto sent = output.Take();
        if (!sent.empty()) {
            ++frames;
            EXPECT_EQ(sent[0], 0x01);
            EXPECT_EQ(sent[1], 0x20 + sent.size() - 6);
        }
    }
    EXPECT_EQ(frames, 4);
}

TEST_F(PrinterSimTest, AStallDoesNotReleaseABurstOfPeriodicFrames)
{
    auto& p = Start(With([](PrinterOptions& o) { o.unsolicitedMs = 100; }));
    p.Advance(1000);   // ten periods late
    EXPECT_FALSE(output.Take().empty());
    p.Advance(1001);
    EXPECT_TRUE(output.Take().empty());
    EXPECT_EQ(p.NextDeadline(), 1100);
}

TEST_F(PrinterSimTest, TaxErrorAnswersCommand50WithF)
{
    auto& p = Start(With([](PrinterOptions& o) { o.taxError = true; }));
    p.Receive(RequestBytes(1, 50, "010125,311225"), 0);
    const auto sent = output.Take();
    ASSERT_GT(sent.size(), 5u);
    EXPECT_EQ(sent[3], 50);
    EXPECT_EQ(sent[4], 'F');
}

}  // namespace
}  // namespace quillon::sim
