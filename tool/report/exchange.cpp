#include "tool/report/exchange.h"

#include "tool/link/byte_text.h"
#include "tool/report/wire_text.h"

namespace quillon::report {

ReportExchange::ReportExchange(SerialLine* line, Clock& clock, WireTrace* trace)
    : m_line(line), m_clock(clock), m_trace(trace)
{
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

ExchangeResult ReportExchange::Run(std::int64_t totalWaitMs, const StopCheck& stopped)
{
    m_result = {};
    m_synPeriods = 0;
    const std::int64_t start = m_clock.NowMs();
    if (m_trace)
        m_trace->Sent(m_frame);
    if (m_line) {
        SingleThreadLink link(*m_line, m_clock, *this, m_trace);
        const WaitEnd end = link.Exchange(m_frame, totalWaitMs, stopped);
        m_result.midFrame = link.MidFrame();
        switch (end) {
        case WaitEnd::Answered:
            m_result.outcome = ExchangeOutcome::Answered;
            break;
        case WaitEnd::NoAnswer:
            m_result.outcome = ExchangeOutcome::NoAnswer;
            break;
        case WaitEnd::Bound:
            // Only SYN can keep a wait open past one period; a bound shorter
            // than the period simply ends a wait that saw no answer.
            m_result.outcome = m_synPeriods > 0 ? ExchangeOutcome::SynLimit : ExchangeOutcome::NoAnswer;
            break;
        case WaitEnd::Stopped:
            m_result.outcome = ExchangeOutcome::Interrupted;
            break;
        }
    }
    if (m_trace)
        m_trace->Finish();
    m_result.elapsedMs = m_clock.NowMs() - start;
    return m_result;
}

void ReportExchange::OnLinkEvent(const LinkEvent& event)
{
    switch (event.kind) {
    case LinkEventKind::Answered:
        KeepAnswer(*event.response);
        break;
    case LinkEventKind::TaxRateError:
        m_result.taxRateError = true;
        break;
    case LinkEventKind::NoAnswer:
        m_result.periodEnded = true;
        break;
    case LinkEventKind::SynExtended:
        ++m_synPeriods;
        break;
    case LinkEventKind::Nak:
        m_result.sawNak = true;
        break;
    case LinkEventKind::UnusableLength:
    case LinkEventKind::ShortLength:
        m_result.unusableFrame = "length byte 0x" + HexByte(event.lengthByte) + " describes no frame";
        break;
    case LinkEventKind::Echo:
        ++m_result.echoes;
        break;
    case LinkEventKind::FrameStalled:
        m_result.unusableFrame = "incomplete frame: bytes stopped after " + std::to_string(event.bytesHad) + " of " +
                                 std::to_string(event.bytesExpected);
        if (m_trace)
            m_trace->FrameDropped();
        break;
    default:
        break;   // a late answer to nothing, and the dialog's own failures, do not arise here
    }
}

void ReportExchange::KeepAnswer(const ResponseFrame& response)
{
    const auto count = static_cast<std::size_t>(response.count);
    m_result.frame.assign(response.raw.begin(), response.raw.begin() + static_cast<std::ptrdiff_t>(count));
    m_result.command = response.command;
    m_result.commandByte = response.raw[3];
    m_result.sequenceByte = response.raw[2];
    m_result.data.assign(response.data.begin(), response.data.begin() + response.dataLength);
    m_result.status = response.status;
}

}  // namespace quillon::report
