#include "tool/link/single_thread_link.h"

#include "tool/link/link_settings.h"

namespace quillon {

SingleThreadLink::SingleThreadLink(SerialLine& line, Clock& clock, LinkEvents& events, WireTap* tap)
    : m_line(line), m_clock(clock), m_events(events), m_tap(tap), m_tracker(m_busy, *this, *this)
{
    m_response.unsignedLength = true;
    ResetResponseFrame(m_response);
}

WaitEnd SingleThreadLink::Exchange(const RequestFrame& frame, std::int64_t totalWaitMs, const std::atomic<int>* stop)
{
    m_end.reset();
    m_timerDeadline.reset();
    const std::int64_t start = m_clock.NowMs();
    SendBuiltFrame(m_tracker, *this, frame);
    std::uint64_t lastByteMs = NowMs();
    while (!m_end) {
        if (stop && stop->load() != 0)
            return WaitEnd::Stopped;
        if (m_clock.NowMs() - start >= totalWaitMs)
            return WaitEnd::Bound;
        if (m_timerDeadline && m_clock.NowMs() >= *m_timerDeadline) {
            m_timerDeadline.reset();   // one-shot, as the dialog stops its timer before the call
            m_tracker.ResponseTimerFired(m_response.syn);
            continue;
        }
        ReceiveStep(*this, m_response, *this, lastByteMs);
    }
    return *m_end;
}

void SingleThreadLink::DeliverFrame(ResponseFrame& response)
{
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
