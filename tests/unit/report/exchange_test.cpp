#include "tool/report/exchange.h"

#include <gtest/gtest.h>

#include "report_fakes.h"
#include "tool/report/wire_text.h"

namespace quillon::report {
namespace {

using testing::AnswersAfter;
using testing::FakeClock;
using testing::FakeLine;
using testing::Response;

class ExchangeTest : public ::testing::Test {
protected:
    ExchangeResult RunRequest(std::uint8_t command, std::string data, std::int64_t totalWaitMs = 30'000)
    {
        ReportExchange exchange(&line, clock, &trace);
        exchange.Prepare(ReportRequest{command, std::move(data)}, 1);
        return exchange.Run(totalWaitMs, [this] { return stop != 0; });
    }

    FakeClock clock;
    FakeLine line{clock};
    std::atomic<int> stop{0};
    std::vector<std::string> lines;
    WireTrace trace{[this](const std::string& text) { lines.push_back(text); }};
};

TEST_F(ExchangeTest, WritesTheFrameWithTheFirstSequenceByteAndTakesTheAnswer)
{
    line.responder = AnswersAfter(30, "A0.00");
    const ExchangeResult result = RunRequest(69, "1");

    const std::vector<std::uint8_t> frame{0x01, 0x25, 0x21, 0x45, 0x31, 0x05, 0x30, 0x30, 0x3C, 0x31, 0x03};
    EXPECT_EQ(line.written, frame);
    EXPECT_EQ(result.outcome, ExchangeOutcome::Answered);
    EXPECT_EQ(result.command, 69);
    EXPECT_EQ(result.sequenceByte, 0x21);
    EXPECT_EQ(std::string(result.data.begin(), result.data.end()), "A0.00");
    EXPECT_EQ(result.status, (std::array<std::uint8_t, 6>{0x80, 0x81, 0x82, 0x83, 0x84, 0x85}));
    EXPECT_EQ(result.command, 69);
    EXPECT_FALSE(result.periodEnded);
    EXPECT_LT(result.elapsedMs, 100);
}

TEST_F(ExchangeTest, SilentPrinterEndsAfterOneResponsePeriodWithTheDialogsMessage)
{
    const ExchangeResult result = RunRequest(69, "3");
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    EXPECT_TRUE(result.periodEnded);
    EXPECT_GE(result.elapsedMs, 500);
    EXPECT_LT(result.elapsedMs, 600);
}

TEST_F(ExchangeTest, AnswerLaterThanOnePeriodWithoutSynIsTooLate)
{
    line.responder = AnswersAfter(800);
    const ExchangeResult result = RunRequest(69, "3");
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    EXPECT_LT(result.elapsedMs, 600);
}

TEST_F(ExchangeTest, SynEveryPeriodKeepsTheWaitOpenUntilTheAnswer)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        for (int t = 150; t < 1700; t += 150)
            l.Send(t, {FiscalFrame::kSyn});
        l.Send(1700, Response(request[3], "P"));
    };
    const ExchangeResult result = RunRequest(108, "0");
    EXPECT_EQ(result.outcome, ExchangeOutcome::Answered);
    EXPECT_EQ(result.command, 108);
    EXPECT_GE(result.elapsedMs, 1700);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "RX SYN 16"), 11);
}

TEST_F(ExchangeTest, SynThatStopsEndsTheWaitOnePeriodLater)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t>) {
        l.Send(300, {FiscalFrame::kSyn});
        l.Send(700, {FiscalFrame::kSyn});
    };
    const ExchangeResult result = RunRequest(69, "3");
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    // Ticks at 500 (SYN seen), 1000 (SYN seen), 1500 (none): ends there.
    EXPECT_GE(result.elapsedMs, 1500);
    EXPECT_LT(result.elapsedMs, 1600);
}

TEST_F(ExchangeTest, TotalBoundEndsAWaitThatSynWouldKeepOpenForever)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t>) {
        for (int t = 100; t < 100'000; t += 100)
            l.Send(t, {FiscalFrame::kSyn});
    };
    const ExchangeResult result = RunRequest(69, "1", 2'000);
    EXPECT_EQ(result.outcome, ExchangeOutcome::SynLimit);
    EXPECT_FALSE(result.periodEnded);
    EXPECT_GE(result.elapsedMs, 2'000);
    EXPECT_LT(result.elapsedMs, 2'100);
}

TEST_F(ExchangeTest, NakAndNoiseAreIgnoredAndTraced)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        l.Send(10, {0x41, 0x42});
        l.Send(20, {FiscalFrame::kNak});
        l.Send(30, Response(request[3], "P"));
        l.Send(40, {0x43});
    };
    const ExchangeResult result = RunRequest(73, "0001,0020");
    EXPECT_EQ(result.outcome, ExchangeOutcome::Answered);
    EXPECT_EQ(result.command, 73);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "RX NOISE 41 42");
    EXPECT_EQ(lines[2], "RX NAK 15");
    EXPECT_EQ(lines[3].substr(0, 6), "RX 01 ");
}

TEST_F(ExchangeTest, AnswerToAnotherCommandKeepsItsByteAndATaxRateErrorIsNoted)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, Response(0xC5, "P")); };
    ExchangeResult result = RunRequest(69, "1");
    EXPECT_EQ(result.outcome, ExchangeOutcome::Answered);
    EXPECT_EQ(result.command, -59);
    EXPECT_EQ(result.commandByte, 0xC5);
    EXPECT_FALSE(result.taxRateError);

    line.responder = AnswersAfter(10, "F");
    result = RunRequest(50, "020402,020403");
    EXPECT_EQ(result.outcome, ExchangeOutcome::Answered);
    EXPECT_TRUE(result.taxRateError);
}

TEST_F(ExchangeTest, UnusableLengthByteIsReportedAndTheWaitTimesOut)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, {0x01, 0x10, 0x21, 0x45}); };
    const ExchangeResult result = RunRequest(69, "1");
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    EXPECT_EQ(result.unusableFrame, "length byte 0x10 describes no frame");
    EXPECT_TRUE(result.periodEnded);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "RX BAD 01 10 | reason=length"), lines.end());
}

TEST_F(ExchangeTest, FailedWriteAndFailingReadsEndInTheTimeOutWithoutSpinning)
{
    line.writeSucceeds = false;
    line.failReads = true;
    const ExchangeResult result = RunRequest(69, "1");
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    EXPECT_GT(line.recoveries, 0);
    EXPECT_LT(line.recoveries, 20);
}

TEST_F(ExchangeTest, FrameCutOffAtTheEndIsTracedAsIncomplete)
{
    line.responder = [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, {0x01, 0x2C, 0x21}); };
    const ExchangeResult result = RunRequest(69, "1");
    EXPECT_EQ(lines.back(), "RX BAD 01 2C 21 | reason=incomplete");
    EXPECT_EQ(result.unusableFrame, "incomplete frame: bytes stopped after 3 of 18");
}

TEST_F(ExchangeTest, BoundShorterThanAPeriodEndsASilentWaitAsNoAnswerNotAsSyn)
{
    const ExchangeResult result = RunRequest(69, "1", 100);
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    EXPECT_LT(result.elapsedMs, 200);
}

TEST_F(ExchangeTest, StopEndsTheWaitAtOnce)
{
    line.responder = [this](FakeLine& l, std::span<const std::uint8_t>) {
        l.Send(100, {FiscalFrame::kSyn});
        stop = 130;   // as a signal arriving during the wait
    };
    const ExchangeResult result = RunRequest(69, "1");
    EXPECT_EQ(result.outcome, ExchangeOutcome::Interrupted);
    EXPECT_LT(result.elapsedMs, 100);
}

TEST_F(ExchangeTest, LengthByteAbove0x7FIsReadUnsignedSoTheLongestAnswerIsTakenWhole)
{
    // 212 data bytes: length byte 0x20 + 212 + 11 = 0xFF, 229 bytes. The
    // dialog reads the byte signed and would find no frame in it.
    line.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        std::vector<std::uint8_t> frame{0x01, 0xFF, request[2], request[3]};
        frame.insert(frame.end(), 212, '7');
        frame.insert(frame.end(), {0x04, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x05});
        const auto checksum = ChecksumChars(FrameChecksum(frame.data() + 1, frame.size() - 1));
        frame.insert(frame.end(), checksum.begin(), checksum.end());
        frame.push_back(0x03);
        l.Send(10, frame);
    };
    const ExchangeResult result = RunRequest(94, "020402,020403");
    EXPECT_EQ(result.outcome, ExchangeOutcome::Answered);
    EXPECT_EQ(result.data.size(), 212u);
    EXPECT_EQ(result.frame.size(), 229u);
}

}  // namespace
}  // namespace quillon::report
