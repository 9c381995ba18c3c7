#include "tool/link/request_tracker.h"

#include "tool/link/link_owner.h"

namespace quillon {

namespace {

constexpr std::uint8_t kTaxRateErrorMark = 'F';

}  // namespace

RequestTracker::RequestTracker(std::atomic<int>& busy, LinkOwner& owner, LinkEvents& events)
    : m_busy(busy), m_owner(owner), m_events(events)
{
    m_busy = 0;
}

int NextSequence(int sequence)
{
    int next = sequence + 1;
    if (SequenceByte(next) == 0)
        ++next;
    return next;
}

void RequestTracker::RequestStarting()
{
    m_busy = 1;
}

void RequestTracker::RequestWritten()
{
    m_owner.StartResponseTimer();
}

bool RequestTracker::EndWaitByResponse()
{
    std::lock_guard lock(m_endOfWait);
    if (m_busy != 1)
        return false;
    m_sequence = NextSequence(m_sequence);
    m_busy = 0;
    return true;
}

bool RequestTracker::EndWaitByTimeout()
{
    std::lock_guard lock(m_endOfWait);
    if (m_busy != 1)
        return false;
    m_busy = 0;
    return true;
}

void RequestTracker::ResponseTimerFired(std::atomic<std::uint8_t>& syn)
{
    if (m_busy != 1)
        return;
    // Taking the flag in one step keeps a SYN that arrives meanwhile for the
    // next period.
    if (syn.exchange(0) != 0) {
        m_owner.StartResponseTimer();
        m_events.OnLinkEvent({LinkEventKind::SynExtended});
        return;
    }
    if (EndWaitByTimeout())
        m_events.OnLinkEvent({LinkEventKind::NoAnswer});
}

void RequestTracker::ResponseArrived(ResponseFrame& response)
{
    if (!EndWaitByResponse()) {
        m_events.OnLinkEvent({LinkEventKind::Unsolicited, &response});
        return;
    }
    response.data[static_cast<std::size_t>(response.dataLength)] = 0;
    m_events.OnLinkEvent({LinkEventKind::Answered, &response});
    if (response.command == kTaxRatesCommand && response.data[0] == kTaxRateErrorMark)
        m_events.OnLinkEvent({LinkEventKind::TaxRateError, &response});
}

void SendBuiltFrame(RequestTracker& tracker, FrameWriter& writer, const RequestFrame& frame)
{
    tracker.RequestStarting();
    writer.WriteFrame(frame.frame.data(), frame.FrameSize());
    tracker.RequestWritten();
}

}  // namespace quillon
