// The link against the printer simulator sending at 9600 baud, 1.04 ms a
// byte, as a real printer line does: the answer's wire time is what the
// 500 ms response timer, the SYN extension and the busy flag face. Each
// suite is one simulator behaviour, started by run-link-scenarios.
#include <gtest/gtest.h>

#include <cstdio>

#include "link_wine_harness.h"
#include "tool/link/byte_text.h"
#include "tool/dialog/link_texts.h"
#include "tool/link/request_tracker.h"

namespace quillon::testing {
namespace {

// Microseconds since the Unix epoch, the clock of the simulator's trace.
std::int64_t UnixMicros()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116'444'736'000'000'000LL) / 10;
}

// One answer frame as the simulator traced it at wire speed.
struct TracedAnswer {
    int bytes = 0;
    std::int64_t firstUs = 0, lastUs = 0;
};

std::vector<TracedAnswer> AnswersSince(const Trace& trace, std::size_t mark)
{
    std::vector<TracedAnswer> answers;
    const auto lines = trace.Lines();
    for (std::size_t i = mark; i < lines.size(); ++i) {
        const auto& line = lines[i];
        const auto tx = line.find(" TX 01 ");
        const auto times = line.find(" first=");
        if (tx == std::string::npos || times == std::string::npos)
            continue;
        TracedAnswer answer;
        answer.bytes = static_cast<int>((line.find(" |", tx) - tx - 3 + 1) / 3);
        long long fs = 0, fu = 0, ls = 0, lu = 0;
        if (std::sscanf(line.c_str() + times, " first=%lld.%lld last=%lld.%lld", &fs, &fu, &ls, &lu) == 4) {
            answer.firstUs = fs * 1'000'000 + fu;
            answer.lastUs = ls * 1'000'000 + lu;
        }
        answers.push_back(answer);
    }
    return answers;
}

class WireScenario : public SimulatorTest {
protected:
    void SetUp() override
    {
        SimulatorTest::SetUp();
        if (IsSkipped())
            return;
        link = std::make_unique<CCommunication>(1, dialog, events);
        ASSERT_TRUE(link->MakeConection());
    }

    void Send(int command, std::string_view data = {}) { Request(*link, command, data); }

    // Waits for the trace of n answers since mark.
    std::vector<TracedAnswer> WaitForAnswers(std::size_t n) const
    {
        const auto end = Clock::now() + 3s;
        auto answers = AnswersSince(trace, mark);
        while (answers.size() < n && Clock::now() < end) {
            std::this_thread::sleep_for(10ms);
            answers = AnswersSince(trace, mark);
        }
        return answers;
    }

    std::unique_ptr<CCommunication> link;
};

// Simulator: --baud 9600.
using WireSpeed = WireScenario;

TEST_F(WireSpeed, EveryCommandIsAnsweredAndEachAnswerTakesItsWireTime)
{
    const struct { int command; std::string_view data; } requests[] = {
        {50, "020402,020403"}, {69, "1"}, {73, "0001,0020"}, {94, "020402,020403"},
        {79, "020402,020403"}, {108, "2"}, {95, "0001,0020"}, {44, {}},
    };
    for (const auto& r : requests) {
        Send(r.command, r.data);
        ASSERT_TRUE(dialog.RunUntilAnswered(*link)) << r.command;
    }
    ASSERT_TRUE(WaitForEvents(log, "response", 7)) << Describe(log);
    ASSERT_TRUE(WaitForEvents(log, "message", 1)) << Describe(log);
    const auto responses = Of("response");
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(responses[i].text, AnswerFor(requests[i].command).text) << requests[i].command;
    EXPECT_EQ(Of("message").at(0).text, texts::kAnswer44);
    EXPECT_EQ(Of("message").size(), 1u) << "no time-out: " << Describe(log);
    EXPECT_EQ(log.Count("timer"), 8) << "each answer within the first period";

    const auto wire = trace.WaitForRequests(mark, 8);
    ASSERT_EQ(wire.size(), 8u);
    for (std::size_t i = 0; i < wire.size(); ++i)
        EXPECT_EQ(wire[i].substr(6, 2), HexByte(static_cast<std::uint8_t>(0x21 + i)));
    for (const auto& answer : WaitForAnswers(8))
        EXPECT_GE(answer.lastUs - answer.firstUs, (answer.bytes - 1) * 1042LL) << answer.bytes << " bytes";
}

// Simulator: --baud 9600 --longest-answer (length byte 0x7F, 101 bytes, 105 ms on the wire).
using WireLongest = WireScenario;

TEST_F(WireLongest, TheLongestFrameArrivesWithinTheFirstPeriod)
{
    for (const char* data : {"1", "2"}) {
        Send(69, data);
        ASSERT_TRUE(dialog.RunUntilAnswered(*link)) << data;
    }
    ASSERT_TRUE(WaitForEvents(log, "response", 2)) << Describe(log);
    for (const auto& e : Of("response"))
        EXPECT_EQ(e.text, texts::kAnswer69);
    EXPECT_TRUE(Of("message").empty()) << Describe(log);
    EXPECT_EQ(log.Count("timer"), 2);
    const auto answers = WaitForAnswers(2);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].bytes, 101);
    EXPECT_GE(answers[0].lastUs - answers[0].firstUs, 100 * 1042LL);
    EXPECT_EQ(trace.WaitForRequests(mark, 2).at(1).substr(6, 2), "22");
}

// Simulator: --baud 9600 --longest-answer --delay 440: the 105 ms frame
// starts before the 500 ms time-out and ends after it.
using WireStraddle = WireScenario;

TEST_F(WireStraddle, TimeOutFirstThenTheRestOfTheFrameIsAnAnswerWithoutARequest)
{
    Send(69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    const std::int64_t timedOutUs = UnixMicros();
    EXPECT_EQ(link->m_busy, 0);
    ASSERT_TRUE(WaitForEvents(log, "message", 2)) << Describe(log);
    const auto messages = Of("message");
    EXPECT_EQ(messages[0].text, texts::kPrinterNotAnswering);
    EXPECT_EQ(messages[1].text, texts::kUnsolicitedResponse);
    EXPECT_EQ(messages[1].caption, kCaptionError);
    EXPECT_TRUE(Of("response").empty());
    const auto answers = WaitForAnswers(1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_LT(answers[0].firstUs, timedOutUs) << "the frame had begun at the time-out";
    EXPECT_GT(answers[0].lastUs, timedOutUs - 2000) << "and was still arriving";

    // The dropped answer did not advance the sequence number.
    Send(69, "2");
    const auto wire = trace.WaitForRequests(mark, 2);
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[1].substr(6, 2), "21");
    dialog.RunUntilAnswered(*link);
}

// Simulator: --baud 9600 --delay 5000 --syn-every 100.
using WireSyn = WireScenario;

TEST_F(WireSyn, SynAtWireSpeedKeepsTheWaitOpenThenItTimesOutWhenSynStops)
{
    Send(69, "1");
    dialog.RunFor(*link, 1700ms);
    EXPECT_EQ(link->m_busy, 1) << Describe(log);
    EXPECT_GE(log.Count("timer"), 4) << "the send and at least three extensions";
    EXPECT_TRUE(Of("message").empty()) << Describe(log);
    StopSimulator();
    ASSERT_TRUE(dialog.RunUntilAnswered(*link, 3000ms));
    ASSERT_EQ(Of("message").size(), 1u) << Describe(log);
    EXPECT_EQ(Of("message")[0].text, texts::kPrinterNotAnswering);
    EXPECT_TRUE(Of("response").empty());
}

// Simulator: --baud 9600 --longest-answer.
using WireBusy = WireScenario;

TEST_F(WireBusy, WhileTheAnswerIsStillArrivingTheRequestIsOutstanding)
{
    // The 101 bytes take 105 ms on the wire. The flag that the dialog's OK
    // tests is sampled throughout: it must read 1 while the bytes arrive.
    Send(69, "1");
    std::vector<std::pair<std::int64_t, int>> samples;
    const auto end = Clock::now() + 2s;
    while (Clock::now() < end && log.Count("response") == 0) {
        samples.emplace_back(UnixMicros(), link->m_busy.load());
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(WaitForEvents(log, "response", 1)) << Describe(log);
    EXPECT_TRUE(Of("message").empty()) << Describe(log);
    const auto answers = WaitForAnswers(1);
    ASSERT_EQ(answers.size(), 1u);
    int busyWhileArriving = 0, idleBeforeTheEnd = 0;
    for (const auto& [at, busy] : samples) {
        busyWhileArriving += at > answers[0].firstUs && at < answers[0].lastUs && busy == 1;
        idleBeforeTheEnd += at < answers[0].lastUs && busy == 0;
    }
    EXPECT_GT(busyWhileArriving, 0);
    EXPECT_EQ(idleBeforeTheEnd, 0);
}

}  // namespace
}  // namespace quillon::testing
