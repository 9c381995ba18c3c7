// The one outstanding request of a connection: the busy flag, the sequence
// number, and what a response or the response timer does to them.
//
// The window's thread sends and runs the response timer; the receiver thread
// delivers responses. Both may try to end the same wait, so the end is
// claimed under a lock: exactly one of them wins, and the sequence number is
// advanced before the busy flag drops, so a request sent the moment the
// flag reads 0 already carries the next number.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"

namespace quillon {

class LinkOwner;

// The command that asks for the tax rates. An answer whose data starts with
// 'F' means the printer has none for the period, or failed.
inline constexpr int kTaxRatesCommand = 50;

// The number after an answered request: one more, except that the number
// whose sequence byte is 0x00 (224, 480, ...) is passed over. The printer
// echoes the sequence byte and zero bytes from the line are dropped, so that
// answer would come one byte short; and as only an answer advances the
// number, every later request of the connection would carry it again.
int NextSequence(int sequence);

class RequestTracker {
public:
    // busy is the connection's public flag (the dialog reads it lock-free).
    RequestTracker(std::atomic<int>& busy, LinkOwner& owner, LinkEvents& events);
    RequestTracker(const RequestTracker&) = delete;
    RequestTracker& operator=(const RequestTracker&) = delete;

    // The number the next request carries: 1 for a new connection, then
    // NextSequence after each answered request.
    int Sequence() const { return m_sequence.load(); }

    // A request is about to be written: from now on its response is
    // awaited. Marked before the write, because a quick printer's answer can
    // be complete on the receiver before the writing thread runs again.
    void RequestStarting();
    // The request has been written (or the write failed): the response timer
    // runs.
    void RequestWritten();

    // The response timer has fired. A SYN seen since the last look extends
    // the wait by one more period (SynExtended); otherwise the wait ends
    // (NoAnswer).
    void ResponseTimerFired(std::atomic<std::uint8_t>& syn);

    // A complete response has arrived. Without a request outstanding it is
    // Unsolicited and dropped; else Answered, then TaxRateError where the
    // tax rates were refused.
    void ResponseArrived(ResponseFrame& response);

private:
    bool EndWaitByResponse();
    bool EndWaitByTimeout();

    std::atomic<int>& m_busy;
    std::atomic<int> m_sequence{1};
    std::mutex m_endOfWait;
    LinkOwner& m_owner;
    LinkEvents& m_events;
};

// Where a request's bytes go.
class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // False when the bytes could not be written.
    virtual bool WriteFrame(const std::uint8_t* bytes, std::size_t count) = 0;
};

// The one send sequence: the request is outstanding before its bytes are
// written (a quick printer's answer can be complete on the receiver before
// the writer runs again), the response timer runs after. A failed write is
// not reported: the response timer reports the printer as not answering.
// frame must be built.
void SendBuiltFrame(RequestTracker& tracker, FrameWriter& writer, const RequestFrame& frame);

}  // namespace quillon
