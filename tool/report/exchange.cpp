#include "tool/report/exchange.h"

#include <cstdio>

#include "tool/link/link_settings.h"
#include "tool/link/link_texts.h"
#include "tool/report/wire_text.h"

namespace quillon::report {

ReportExchange::ReportExchange(SerialLine* line, Clock& clock, WireTrace* trace, const std::atomic<int>* stop)
    : m_line(line), m_clock(clock), m_trace(trace), m_stop(stop), m_tracker(m_busy, *this, *this)
{
    m_response.unsignedLength = true;
    ResetResponseFrame(m_response);
}

const RequestFrame& ReportExchange::Prepare(const ReportRequest& request, int sequence)
{
    m_data = request.data;
    m_frame.command = request.command;
    m_frame.data = reinterpret_cast<const std::uint8_t*>(m_data.data());
    m_frame.dataLength = static_cast<std::int32_t>(m_data.size());
    m_frame.sequence = sequence;
    BuildRequestFrame(m_frame);
    return m_frame;
}

ExchangeResult ReportExchange::Run(std::int64_t totalWaitMs)
{
    m_result = {};
    m_answered = false;
    m_timerStarts = 0;
    const std::int64_t start = m_clock.NowMs();
    if (m_trace)
        m_trace->Sent(m_frame);
    // As the dialog's link does it: outstanding before the write, the timer
    // after it, and a failed write left to the timer to report.
    m_tracker.RequestStarting();
    if (m_line)
        m_line->Write(std::span<const std::uint8_t>(m_frame.frame.data(), m_frame.FrameSize()));
    m_tracker.RequestWritten();

    std::int64_t lastByteMs = m_clock.NowMs();
    while (m_busy == 1) {
        if (Stopped()) {
            m_result.outcome = ExchangeOutcome::Interrupted;
            break;
        }
        if (m_clock.NowMs() - start >= totalWaitMs) {
            // Only SYN can keep a wait open past one period; a bound shorter
            // than the period simply ends a wait that saw no answer.
            m_result.outcome = m_timerStarts > 1 ? ExchangeOutcome::SynLimit : ExchangeOutcome::NoAnswer;
            break;
        }
        if (TimerDue()) {
            m_timerDeadline.reset();   // one-shot, as the dialog stops its timer before the call
            m_tracker.ResponseTimerFired(m_response.syn);
            continue;
        }
        ReadOnce(lastByteMs);
    }
    if (m_answered)
        m_result.outcome = ExchangeOutcome::Answered;
    if (m_trace)
        m_trace->Finish();
    m_result.elapsedMs = m_clock.NowMs() - start;
    return m_result;
}

void ReportExchange::ReadOnce(std::int64_t& lastByteMs)
{
    std::uint8_t byte = 0;
    switch (m_line ? m_line->ReadByte(byte) : ReadResult::Failed) {
    case ReadResult::Byte:
        lastByteMs = m_clock.NowMs();
        TakeByte(byte);
        break;
    case ReadResult::Failed:
        if (m_line)
            m_line->RecoverFromReadFailure();
        break;
    case ReadResult::Nothing:
        break;
    }
    // The receiver's rule: a frame whose bytes stop is dropped, so that
    // it cannot swallow the first byte of the next answer.
    const std::int32_t had = m_response.count;
    const std::int32_t expected = m_response.expectedLength;
    if (DropStalledFrame(m_response, static_cast<std::uint64_t>(m_clock.NowMs() - lastByteMs))) {
        m_result.unusableFrame =
            "incomplete frame: bytes stopped after " + std::to_string(had) + " of " + std::to_string(expected);
        if (m_trace)
            m_trace->FrameDropped();
    }
}

void ReportExchange::TakeByte(std::uint8_t byte)
{
    const bool wasInFrame = m_response.inFrame != 0;
    const bool complete = quillon::TakeByte(m_response, byte, *this);
    if (m_trace)
        m_trace->Received(byte, wasInFrame, m_response);
    if (!wasInFrame && byte == FiscalFrame::kNak)
        m_result.sawNak = true;
    if (wasInFrame && !m_response.inFrame && !complete) {
        char text[64];
        std::snprintf(text, sizeof text, "length byte 0x%02X describes no frame", byte);
        m_result.unusableFrame = text;
    }
    if (!complete)
        return;
    // Copied before the tracker looks at it; the record is reset afterwards,
    // as the receiver's delivery does.
    const bool outstanding = m_busy == 1;
    if (outstanding)
        KeepAnswer();
    m_tracker.ResponseArrived(m_response);
    m_answered = m_answered || (outstanding && m_busy == 0);
    ResetResponseFrame(m_response);
}

void ReportExchange::KeepAnswer()
{
    const auto count = static_cast<std::size_t>(m_response.count);
    m_result.frame.assign(m_response.raw.begin(), m_response.raw.begin() + static_cast<std::ptrdiff_t>(count));
    m_result.command = m_response.command;
    m_result.commandByte = m_response.raw[3];
    m_result.sequenceByte = m_response.raw[2];
    m_result.data.assign(m_response.data.begin(), m_response.data.begin() + m_response.dataLength);
    m_result.status = m_response.status;
    m_result.answerText = std::string(AnswerFor(m_response.command).text);
}

void ReportExchange::StartResponseTimer()
{
    ++m_timerStarts;
    m_timerDeadline = m_clock.NowMs() + kResponsePeriodMs;
}

void ReportExchange::ShowResponse(const char* text)
{
    m_result.answerText = text;
}

void ReportExchange::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon)
{
    // The unusable length is told by unusableFrame, in words a script can use.
    if (text == texts::kUnusableLength)
        return;
    m_result.messages.push_back({std::string(text), std::string(caption), icon});
}

}  // namespace quillon::report
