#include "tool/link/single_thread_link.h"

#include "tool/link/link_settings.h"

#include <algorithm>

namespace quillon {

SingleThreadLink::SingleThreadLink(SerialLine& line, Clock& clock, LinkEvents& events, WireTap* tap)
    : m_line(line), m_clock(clock), m_events(events), m_tap(tap), m_tracker(m_busy, *this, *this)
{
    m_response.unsignedLength = true;
    ResetResponseFrame(m_response);
}

WaitEnd SingleThreadLink::Exchange(const RequestFrame& frame, std::int64_t totalWaitMs, const StopCheck& stopped)
{
    m_end.reset();
    m_timerDeadline.reset();
    m_written.assign(frame.frame.begin(), frame.frame.begin() + static_cast<std::ptrdiff_t>(frame.FrameSize()));
    const std::int64_t start = m_clock.NowMs();
    SendBuiltFrame(m_tracker, *this, frame);
    m_lastByteMs = NowMs();
    while (!m_end) {
        if (stopped && stopped())
            return WaitEnd::Stopped;
        if (m_clock.NowMs() - start >= totalWaitMs)
            return WaitEnd::Bound;
        if (m_timerDeadline && m_clock.NowMs() >= *m_timerDeadline) {
            m_timerDeadline.reset();   // one-shot, as the dialog stops its timer before the call
            // 212 data bytes take a quarter of a second at 9600 baud: an
            // answer begun late in the period is still coming at its end.
            if (m_response.inFrame && NowMs() - m_lastByteMs < kFrameGapMs)
                StartResponseTimer();
            else
                m_tracker.ResponseTimerFired(m_response.syn);
            continue;
        }
        ReceiveStep(*this, m_response, *this, m_lastByteMs);
    }
    return *m_end;
}

void SingleThreadLink::DeliverFrame(ResponseFrame& response)
{
    const auto count = static_cast<std::size_t>(response.count);
    if (count == m_written.size() && std::equal(m_written.begin(), m_written.end(), response.raw.begin()))
        OnLinkEvent({LinkEventKind::Echo, &response});
    else
        m_tracker.ResponseArrived(response);
    ResetResponseFrame(response);
}

void SingleThreadLink::ByteRead(std::uint8_t byte, bool wasInFrame, const ResponseFrame& response)
{
    if (m_tap)
        m_tap->Received(byte, wasInFrame, response);
}

void SingleThreadLink::StartResponseTimer()
{
    m_timerDeadline = m_clock.NowMs() + kResponsePeriodMs;
}

bool SingleThreadLink::WriteFrame(const std::uint8_t* bytes, std::size_t count)
{
    return m_line.Write(std::span<const std::uint8_t>(bytes, count));
}

void SingleThreadLink::OnLinkEvent(const LinkEvent& event)
{
    if (event.kind == LinkEventKind::Answered)
        m_end = WaitEnd::Answered;
    else if (event.kind == LinkEventKind::NoAnswer)
        m_end = WaitEnd::NoAnswer;
    m_events.OnLinkEvent(event);
}

}  // namespace quillon
