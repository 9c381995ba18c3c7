// The receive step, apart from the port it reads: one byte at a time, zero
// bytes dropped, every other byte assembled into the response, each
// complete response delivered once, what the line does reported as events.
// The dialog's receiver thread and quillon-report's single-threaded wait
// run the same step.
#pragma once

#include <atomic>
#include <cstdint>

#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"

namespace quillon {

enum class ReadResult {
    Byte,      // one byte was read (it may be 0)
    Nothing,   // the read's wait ended with no byte
    Failed,    // the read failed, e.g. after a framing, overrun or break error
};

// The reading side of a serial line.
class LineReader {
public:
    virtual ~LineReader() = default;
    // Reads at most one byte; waits a bounded time for it.
    virtual ReadResult ReadByte(std::uint8_t& byte) = 0;
    // Called after a failed read so that the next read can succeed again.
    virtual void RecoverFromReadFailure() = 0;
};

class ReceiverPort : public LineReader {
public:
    // Hands the complete response on and resets it for the next one. It is
    // the response the step was given: the one route by which a frame
    // leaves the receiver.
    virtual void DeliverFrame(ResponseFrame& response) = 0;
    // Milliseconds of a monotonic clock.
    virtual std::uint64_t NowMs() = 0;
    // Each byte read, zero bytes included, with the response as it stands
    // after it (before a complete one is delivered); wasInFrame is the
    // in-frame flag before. For a trace of the wire; nothing by default.
    virtual void ByteRead(std::uint8_t /*byte*/, bool /*wasInFrame*/, const ResponseFrame& /*response*/) {}
};

// Takes one read byte: zero bytes are dropped before assembly; a NAK and a
// length byte that gives the frame up are reported. Returns true when it
// completed a response.
bool TakeByte(ResponseFrame& response, std::uint8_t byte, LinkEvents& events);

// Drops the frame being assembled when its bytes have stopped for
// kFrameGapMs, and reports it; true when it did.
bool DropStalledFrame(ResponseFrame& response, std::uint64_t msSinceLastByte, LinkEvents& events);

// One read, its byte taken, a completed response delivered, a stalled frame
// dropped. lastByteMs is the step's memory between calls: when the last
// byte came (start it at port.NowMs()).
//
// A frame whose bytes stop for kFrameGapMs is dropped: the printer sends a
// frame without pauses, and a frame cut short (a zero byte dropped, a byte
// lost on the line) would otherwise take the first byte of the next answer
// as its last, show that answer as the wrong command's and lose it.
void ReceiveStep(ReceiverPort& port, ResponseFrame& response, LinkEvents& events, std::uint64_t& lastByteMs);

// Runs the step until stop is set. stop is looked at before every read, so
// the loop ends within one read's wait.
void RunReceiver(ReceiverPort& port, ResponseFrame& response, LinkEvents& events, const std::atomic<bool>& stop);

}  // namespace quillon
