// One request and its answer, for a program without a window: the link's
// single-threaded driver does the sending, reading and waiting; this turns
// the events it reports into what a script needs to know.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tool/dialog/report_operations.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"
#include "tool/link/single_thread_link.h"

namespace quillon::report {

using quillon::Clock;
using quillon::SerialLine;

class WireTrace;

enum class ExchangeOutcome {
    Answered,      // a complete frame arrived while the request was outstanding
    NoAnswer,      // nothing usable in a response period, or within the bound without SYN
    SynLimit,      // SYN kept the wait open until the total bound
    Interrupted,   // the run was told to stop
};

struct ExchangeResult {
    ExchangeOutcome outcome = ExchangeOutcome::NoAnswer;
    int command = 0;                      // answered command, sign-extended as the link reads it
    std::uint8_t commandByte = 0;         // the same, as the byte on the wire
    std::uint8_t sequenceByte = 0;        // the response's; the dialog does not examine it
    std::vector<std::uint8_t> frame;      // the answer's bytes as assembled, zero bytes dropped
    std::vector<std::uint8_t> data;
    std::array<std::uint8_t, FiscalFrame::kStatusBytes> status{};
    std::int64_t elapsedMs = 0;
    // What the link reported on the way, so that a failed wait can say why.
    bool periodEnded = false;             // a response period passed without answer or SYN
    bool taxRateError = false;            // the tax rates were refused
    bool sawNak = false;
    bool midFrame = false;                // the wait ended while an answer's bytes were coming
    int echoes = 0;                       // the request's own bytes, heard back and skipped
    std::string unusableFrame;            // empty, or why the last frame was given up
};

class ReportExchange final : private LinkEvents {
public:
    // line may be null for a run that only prepares the frame (--dry-run).
    ReportExchange(SerialLine* line, Clock& clock, WireTrace* trace);
    ReportExchange(const ReportExchange&) = delete;
    ReportExchange& operator=(const ReportExchange&) = delete;

    // Fills and builds the request frame with the given sequence number.
    const RequestFrame& Prepare(const ReportRequest& request, int sequence);
    // Writes the prepared frame and waits for its answer, at most totalWaitMs
    // (the response periods end the wait earlier); stopped ends it before
    // the next read. The same bytes go out again on every call.
    ExchangeResult Run(std::int64_t totalWaitMs, const StopCheck& stopped = {});

private:
    void OnLinkEvent(const LinkEvent& event) override;
    void KeepAnswer(const ResponseFrame& response);

    SerialLine* m_line;
    Clock& m_clock;
    WireTrace* m_trace;
    RequestFrame m_frame;
    std::string m_data;                 // the frame's data text, alive while the frame is
    ExchangeResult m_result;
    int m_synPeriods = 0;
};

}  // namespace quillon::report
