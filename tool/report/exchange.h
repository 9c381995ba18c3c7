// One request and its answer, for a program without a window: the same
// request tracker, assembler and time-out rules as the dialog's link, driven
// by one thread that reads the line and watches the response timer itself.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tool/dialog/report_operations.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/link_owner.h"
#include "tool/link/message_sink.h"
#include "tool/link/receiver.h"
#include "tool/link/request_tracker.h"

namespace quillon::report {

class WireTrace;

// The open serial line, per platform (termios, Win32) and faked in tests.
class SerialLine : public LineReader {
public:
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from any fixed point, never going back.
    virtual std::int64_t NowMs() = 0;
};

// A message the link would show in a box, kept for the console.
struct LinkMessage {
    std::string text;   // Windows-1251
    std::string caption;
    MessageIcon icon;
};

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
    std::string answerText;               // what the dialog would show, Windows-1251
    std::vector<LinkMessage> messages;    // in the order the link raised them
    std::int64_t elapsedMs = 0;
    // What else the line showed during the wait, so that a failed wait can
    // say why: a NAK, and the last frame that could not be used.
    bool sawNak = false;
    std::string unusableFrame;            // empty, or why the last one was given up
};

class ReportExchange final : private LinkOwner, private MessageSink {
public:
    // line may be null for a run that only prepares the frame (--dry-run).
    // A non-zero stop ends the wait (a signal or a console event set it).
    ReportExchange(SerialLine* line, Clock& clock, WireTrace* trace, const std::atomic<int>* stop = nullptr);
    ReportExchange(const ReportExchange&) = delete;
    ReportExchange& operator=(const ReportExchange&) = delete;

    // Fills and builds the request frame with the given sequence number.
    const RequestFrame& Prepare(const ReportRequest& request, int sequence);
    // Writes the prepared frame and waits for its answer, at most totalWaitMs
    // (the response periods end the wait earlier).
    ExchangeResult Run(std::int64_t totalWaitMs);

private:
    void StartResponseTimer() override;
    void ShowResponse(const char* text) override;
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

    bool TimerDue() const { return m_timerDeadline && m_clock.NowMs() >= *m_timerDeadline; }
    bool Stopped() const { return m_stop && m_stop->load() != 0; }
    void ReadOnce(std::int64_t& lastByteMs);
    void TakeByte(std::uint8_t byte);
    void KeepAnswer();

    SerialLine* m_line;
    Clock& m_clock;
    WireTrace* m_trace;
    const std::atomic<int>* m_stop;
    std::atomic<int> m_busy{0};
    RequestTracker m_tracker;
    RequestFrame m_frame;
    std::string m_data;                 // the frame's data text, alive while the frame is
    ResponseFrame m_response;
    std::optional<std::int64_t> m_timerDeadline;
    int m_timerStarts = 0;              // more than one: SYN extended the wait
    ExchangeResult m_result;
    bool m_answered = false;
};

}  // namespace quillon::report
