#include "request_tracker.h"

#include "link_owner.h"
#include "link_texts.h"
#include "message_sink.h"

namespace quillon {

namespace {

constexpr std::uint8_t kTaxRateErrorMark = 'F';

}  // namespace

Answer AnswerFor(int command)
{
    switch (command) {
    case 44: return {texts::kAnswer44, true};
    case 50: return {texts::kAnswer50, false};
    case 69: return {texts::kAnswer69, false};
    case 73: return {texts::kAnswer73, false};
    case 79: return {texts::kAnswer79, false};
    case 94: return {texts::kAnswer94, false};
    case 95: return {texts::kAnswer95, false};
    case 108: return {texts::kAnswer108, false};
    default: return {texts::kAnswerUnknown, false};
    }
}

RequestTracker::RequestTracker(std::atomic<int>& busy, LinkOwner& owner, MessageSink& sink)
    : m_busy(busy), m_owner(owner), m_sink(sink)
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
        return;
    }
    if (EndWaitByTimeout())
        m_sink.ShowMessage(texts::kPrinterNotAnswering, kCaptionNotice, MessageIcon::Information);
}

void RequestTracker::ResponseArrived(ResponseFrame& response)
{
    if (!EndWaitByResponse()) {
        m_sink.ShowMessage(texts::kUnsolicitedResponse, kCaptionError, MessageIcon::Error);
        return;
    }
    const Answer answer = AnswerFor(response.command);
    if (answer.inMessageBox)
        m_sink.ShowMessage(answer.text, kCaptionQuillon, MessageIcon::Information);
    else
        m_owner.ShowResponse(answer.text.data());

    response.data[static_cast<std::size_t>(response.dataLength)] = 0;
    if (response.command == kTaxRatesCommand && response.data[0] == kTaxRateErrorMark)
        m_sink.ShowMessage(texts::kTaxRateError, kCaptionError, MessageIcon::Error);
}

}  // namespace quillon
