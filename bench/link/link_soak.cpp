// Long runs of the serial link against the printer simulator: the soak, with
// one fault per request, and the latency at wire speed. The window's thread is
// played by this program's main thread, which runs the response timer as the
// dialog would (500 ms, one shot, re-armed by the link).
#include "link_soak.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/common/process_usage.h"
#include "soak_faults.h"
#include "tool/dialog/link_notices.h"
#include "tool/dialog/link_texts.h"
#include "tool/link/link_owner.h"
#include "tool/link/request_tracker.h"
#include "tool/link/win32/communication.h"

namespace quillon::bench {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::SoakFault;

// Microseconds since the Unix epoch, on the clock that the simulator's trace
// uses (Wine reads the same system clock).
std::int64_t UnixMicros()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116'444'736'000'000'000LL) / 10;
}

// Counts what the link shows; keeps nothing per request, so that its own
// memory does not grow with the run.
class CountingDialog : public LinkOwner, public AnswerField, public MessageSink {
public:
    void StartResponseTimer() override
    {
        m_timerDue = Clock::now() + 500ms;
        m_timerArmed = true;
    }
    void ShowResponse(const char* text) override
    {
        shownAtUs = UnixMicros();
        lastAnswer = text;
        ++answers;
    }
    void ShowMessage(std::string_view text, std::string_view, MessageIcon) override
    {
        if (text == texts::kPrinterNotAnswering)
            ++timeouts;
        else if (text == texts::kUnsolicitedResponse)
            ++unsolicited;
        else if (text == "AddChar")
            ++addChar;
        else
            ++otherMessages;
    }

    // The window's thread until the request has ended or limit has passed.
    bool RunUntilEnded(CCommunication& link, std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (m_timerArmed && Clock::now() >= m_timerDue) {
                m_timerArmed = false;
                link.OnResponseTimer();
            }
            if (link.m_busy == 0)
                return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    std::atomic<int> answers{0}, timeouts{0}, unsolicited{0}, addChar{0}, otherMessages{0};
    std::atomic<const char*> lastAnswer{nullptr};
    std::atomic<std::int64_t> shownAtUs{0};

private:
    Clock::time_point m_timerDue{};
    bool m_timerArmed = false;
};

bool WaitUntil(const std::atomic<int>& counter, int value, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (counter < value && Clock::now() < end)
        std::this_thread::sleep_for(1ms);
    return counter >= value;
}

// The busy flag drops before the receiver shows the answer: wait for what
// ended the request to be shown.
void WaitForTheEndToShow(const CountingDialog& dialog, int answers, int timeouts)
{
    const auto end = Clock::now() + 1000ms;
    while (dialog.answers == answers && dialog.timeouts == timeouts && Clock::now() < end)
        std::this_thread::sleep_for(1ms);
}

struct Command {
    int number;
    std::string_view data;
};
// The seven commands that the dialog sends, in turn.
constexpr std::array<Command, 7> kCommands = {{
    {69, "1"}, {94, "020402,020403"}, {73, "0001,0020"}, {79, "020402,020403"},
    {95, "0001,0020"}, {108, "0"}, {50, "020402,020403"},
}};

void Fill(RequestFrame& frame, const Command& command)
{
    frame.command = command.number;
    frame.data = reinterpret_cast<const std::uint8_t*>(command.data.data());
    frame.dataLength = static_cast<std::int32_t>(command.data.size());
}

std::vector<std::string> TraceLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The sequence bytes of the requests that the simulator received, in order.
std::vector<int> ReceivedSequences(const std::vector<std::string>& lines)
{
    std::vector<int> sequences;
    for (const auto& line : lines) {
        const auto at = line.find(" RX ");
        const auto seq = line.find("seq=0x");
        if (at != std::string::npos && seq != std::string::npos && line.find(" RX BAD ") == std::string::npos)
            sequences.push_back(static_cast<int>(std::strtol(line.c_str() + seq + 6, nullptr, 16)));
    }
    return sequences;
}

// The fault names that the simulator traced, in order.
std::vector<std::string> TracedFaults(const std::vector<std::string>& lines)
{
    std::vector<std::string> faults;
    for (const auto& line : lines)
        if (const auto at = line.find("SOAK request="); at != std::string::npos)
            faults.push_back(line.substr(line.find(" fault=", at) + 7));
    return faults;
}

struct KindTally {
    int requests = 0;
    int asExpected = 0;
};

struct Observed {
    bool ended;
    bool answered;
    bool timedOut;
    bool rightText;
    bool unsolicited;
    bool addChar;
};

Observed OneRequest(CCommunication& link, CountingDialog& dialog, RequestFrame& frame, const Command& command,
                    SoakFault fault)
{
    const sim::SoakOutcome expected = sim::ExpectedOutcome(fault);
    const int answers = dialog.answers, timeouts = dialog.timeouts, unsolicited = dialog.unsolicited,
              addChar = dialog.addChar;
    Fill(frame, command);
    link.SendRequest(frame);
    Observed seen{};
    seen.ended = dialog.RunUntilEnded(link, 5000ms);
    WaitForTheEndToShow(dialog, answers, timeouts);
    // A frame that is to follow the end of the wait (a late answer, an
    // unrequested frame) must be in before the next request goes.
    if (expected.unsolicited)
        WaitUntil(dialog.unsolicited, unsolicited + 1, 3000ms);
    seen.answered = dialog.answers == answers + 1;
    seen.timedOut = dialog.timeouts == timeouts + 1;
    const std::string_view want = fault == SoakFault::WrongCommand ? texts::kAnswerUnknown
                                                                   : AnswerFor(command.number).text;
    const char* shown = dialog.lastAnswer;
    seen.rightText = seen.answered && shown && want == shown;
    seen.unsolicited = dialog.unsolicited == unsolicited + 1;
    seen.addChar = dialog.addChar > addChar;
    return seen;
}

bool AsExpected(const Observed& seen, SoakFault fault)
{
    const sim::SoakOutcome expected = sim::ExpectedOutcome(fault);
    return seen.ended && seen.answered == expected.answered && seen.timedOut == !expected.answered &&
           (!expected.answered || seen.rightText) && seen.unsolicited == expected.unsolicited &&
           seen.addChar == expected.addCharMessage;
}

}  // namespace

int Soak(int count, std::uint64_t seed, const std::string& tracePath)
{
    CountingDialog dialog;
    RequestFrame frame;
    std::array<KindTally, sim::kSoakFaultKinds> tally{};
    std::vector<bool> answered;
    answered.reserve(static_cast<std::size_t>(count));
    int stuck = 0;
    lorvane::bench::ProcessUsage start, end;
    {
        DialogLinkEvents events(dialog, dialog);
    CCommunication link(1, dialog, events);
        if (!link.MakeConection()) {
            std::fprintf(stderr, "cannot open COM1\n");
            return 1;
        }
        // The first requests bring in what the process allocates once.
        constexpr int kWarmUp = 10;
        for (int i = 0; i < count; ++i) {
            if (i == std::min(kWarmUp, count / 2))
                start = lorvane::bench::CurrentUsage();
            const SoakFault fault = sim::SoakFaultFor(seed, static_cast<std::uint64_t>(i));
            const Observed seen = OneRequest(link, dialog, frame, kCommands[i % kCommands.size()], fault);
            if (!seen.ended) {
                ++stuck;
                // Give the wait every chance to end before the next request.
                dialog.RunUntilEnded(link, 10'000ms);
            }
            auto& kind = tally[static_cast<std::size_t>(fault)];
            ++kind.requests;
            kind.asExpected += AsExpected(seen, fault) ? 1 : 0;
            answered.push_back(seen.answered);
            if (!AsExpected(seen, fault))
                std::printf("request %d (%s): ended %d answered %d right text %d timed out %d unsolicited %d "
                            "AddChar %d\n",
                            i, std::string(sim::SoakFaultName(fault)).c_str(), seen.ended, seen.answered,
                            seen.rightText, seen.timedOut, seen.unsolicited, seen.addChar);
        }
        // Measured with the link still open, as at the start.
        end = lorvane::bench::CurrentUsage();
        link.Disconection();
    }

    std::printf("%-18s %8s %12s\n", "fault", "requests", "as expected");
    int mismatched = 0;
    for (int k = 0; k < sim::kSoakFaultKinds; ++k) {
        const auto& kind = tally[static_cast<std::size_t>(k)];
        mismatched += kind.requests - kind.asExpected;
        std::printf("%-18s %8d %12d\n", std::string(sim::SoakFaultName(static_cast<SoakFault>(k))).c_str(),
                    kind.requests, kind.asExpected);
    }
    std::printf("shown: %d answers, %d time-outs, %d unrequested frames, %d AddChar, %d other messages\n",
                dialog.answers.load(), dialog.timeouts.load(), dialog.unsolicited.load(), dialog.addChar.load(),
                dialog.otherMessages.load());

    // Each request carries 0x20 + the sequence number, which starts at 1 and
    // moves on (NextSequence) with each answered request.
    const auto lines = TraceLines(tracePath);
    const auto sequences = ReceivedSequences(lines);
    int sequenceMismatches = sequences.size() == answered.size() ? 0 : 1;
    int number = 1;
    for (std::size_t i = 0; i < std::min(sequences.size(), answered.size()); ++i) {
        if (sequences[i] != SequenceByte(number))
            ++sequenceMismatches;
        number = answered[i] ? NextSequence(number) : number;
    }
    const auto traced = TracedFaults(lines);
    int drawMismatches = traced.size() == answered.size() ? 0 : 1;
    for (std::size_t i = 0; i < std::min(traced.size(), answered.size()); ++i)
        drawMismatches += traced[i] != sim::SoakFaultName(sim::SoakFaultFor(seed, i)) ? 1 : 0;
    std::printf("requests at the simulator %zu, sequence mismatches %d, fault draws that differ %d, "
                "outcomes not as expected %d\n",
                sequences.size(), sequenceMismatches, drawMismatches, mismatched);
    lorvane::bench::PrintUsage("start (after the warm-up)", start);
    lorvane::bench::PrintUsage("end", end);
    std::printf("link-soak: %d requests, %d stuck, handle growth %ld, memory growth %lld KiB\n", count, stuck,
                lorvane::bench::HandleGrowth(start, end), lorvane::bench::MemoryGrowthKiB(start, end));
    return stuck == 0 && mismatched == 0 && sequenceMismatches == 0 && drawMismatches == 0 ? 0 : 1;
}

int Latency(int count, const std::string& tracePath)
{
    CountingDialog dialog;
    DialogLinkEvents events(dialog, dialog);
    CCommunication link(1, dialog, events);
    if (!link.MakeConection()) {
        std::fprintf(stderr, "cannot open COM1\n");
        return 1;
    }
    RequestFrame frame;
    constexpr int kWarmUp = 10;
    std::vector<std::int64_t> shownUs;
    int lost = 0;
    for (int i = 0; i < count + kWarmUp; ++i) {
        Fill(frame, kCommands[0]);
        const int answers = dialog.answers, timeouts = dialog.timeouts;
        link.SendRequest(frame);
        const bool ended = dialog.RunUntilEnded(link, 5000ms);
        WaitForTheEndToShow(dialog, answers, timeouts);
        if (!ended || dialog.answers != answers + 1) {
            ++lost;
            std::printf("request %d: no answer (%d time-outs, %d unrequested frames, %d AddChar so far)\n", i,
                        dialog.timeouts.load(), dialog.unsolicited.load(), dialog.addChar.load());
            continue;
        }
        shownUs.push_back(dialog.shownAtUs);
    }
    link.Disconection();

    // The simulator writes a frame's trace line after its last byte, with
    // that byte's time; the lines come in the order of the answers.
    std::vector<std::int64_t> lastByteUs;
    const auto stopAt = Clock::now() + 2s;
    while (Clock::now() < stopAt) {
        lastByteUs.clear();
        for (const auto& line : TraceLines(tracePath)) {
            const auto at = line.find(" last=");
            if (line.find(" TX 01 ") == std::string::npos || at == std::string::npos)
                continue;
            long long seconds = 0, micros = 0;
            if (std::sscanf(line.c_str() + at, " last=%lld.%lld", &seconds, &micros) == 2)
                lastByteUs.push_back(seconds * 1'000'000 + micros);
        }
        if (lastByteUs.size() >= shownUs.size())
            break;
        std::this_thread::sleep_for(20ms);
    }
    if (lost != 0 || lastByteUs.size() != shownUs.size()) {
        std::fprintf(stderr, "lost %d answers; %zu answers against %zu traced frames\n", lost, shownUs.size(),
                     lastByteUs.size());
        return 1;
    }
    std::vector<double> ms;
    for (std::size_t i = kWarmUp; i < shownUs.size(); ++i)
        ms.push_back(static_cast<double>(shownUs[i] - lastByteUs[i]) / 1000.0);
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * ms.size()))]; };
    std::printf("answers %zu at 9600 baud, last byte to ShowResponse: min %.3f median %.3f p95 %.3f max %.3f ms\n",
                ms.size(), ms.front(), at(0.5), at(0.95), ms.back());
    std::printf("link-latency: %.3f ms\n", at(0.5));
    return 0;
}

}  // namespace quillon::bench
