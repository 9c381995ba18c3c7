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
#include <mutex>
#include <string_view>

#include "fiscal_frame.h"

namespace quillon {

class LinkOwner;
class MessageSink;

// The command that asks for the tax rates. An answer whose data starts with
// 'F' means the printer has none for the period, or failed.
inline constexpr int kTaxRatesCommand = 50;

// What the operator is told about a response to command.
struct Answer {
    std::string_view text;   // Windows-1251, NUL-terminated
    bool inMessageBox;       // the answer to 44 is a box captioned "Lorvane Quillon"
};
Answer AnswerFor(int command);

// The number after an answered request: one more, except that the number
// whose sequence byte is 0x00 (224, 480, ...) is passed over. The printer
// echoes the sequence byte and zero bytes from the line are dropped, so that
// answer would come one byte short; and as only an answer advances the
// number, every later request of the connection would carry it again.
int NextSequence(int sequence);

class RequestTracker {
public:
    // busy is the connection's public flag (the dialog reads it lock-free).
    RequestTracker(std::atomic<int>& busy, LinkOwner& owner, MessageSink& sink);
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
    // the wait by one more period; otherwise the wait ends and the operator
    // is told that the printer does not answer.
    void ResponseTimerFired(std::atomic<std::uint8_t>& syn);

    // A complete response has arrived. Without a request outstanding it is
    // reported and dropped; else the command's answer is shown.
    void ResponseArrived(ResponseFrame& response);

private:
    bool EndWaitByResponse();
    bool EndWaitByTimeout();

    std::atomic<int>& m_busy;
    std::atomic<int> m_sequence{1};
    std::mutex m_endOfWait;
    LinkOwner& m_owner;
    MessageSink& m_sink;
};

}  // namespace quillon
