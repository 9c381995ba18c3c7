// The receiver's loop, apart from the port it reads: one byte at a time,
// zero bytes dropped, every other byte assembled into the response, each
// complete response delivered once. The port side is a narrow interface so
// the loop runs the same on a serial port and in tests.
#pragma once

#include <atomic>
#include <cstdint>

#include "fiscal_frame.h"

namespace quillon {

class MessageSink;

enum class ReadResult {
    Byte,      // one byte was read (it may be 0)
    Nothing,   // the read's wait ended with no byte
    Failed,    // the read failed, e.g. after a framing, overrun or break error
};

// The reading side of a serial line: the dialog's receiver and the console
// program's wait read through the same two operations.
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
    // the response the loop was given: the one route by which a frame
    // leaves the receiver.
    virtual void DeliverFrame(ResponseFrame& response) = 0;
    // Milliseconds of a monotonic clock.
    virtual std::uint64_t NowMs() = 0;
};

// Takes one read byte: zero bytes are dropped before assembly. Returns true
// when it completed a response.
bool TakeByte(ResponseFrame& response, std::uint8_t byte, MessageSink& sink);

// Drops the frame being assembled when its bytes have stopped for
// kFrameGapMs (see RunReceiver); true when it did.
bool DropStalledFrame(ResponseFrame& response, std::uint64_t msSinceLastByte);

// Reads, assembles and delivers until stop is set. stop is looked at before
// every read, so the loop ends within one read's wait. A frame whose bytes
// stop for kFrameGapMs is dropped: the printer sends a frame without pauses,
// and a frame cut short (a zero byte dropped, a byte lost on the line) would
// otherwise take the first byte of the next answer as its last, show that
// answer as the wrong command's and lose it.
void RunReceiver(ReceiverPort& port, ResponseFrame& response, MessageSink& sink, const std::atomic<bool>& stop);

}  // namespace quillon
