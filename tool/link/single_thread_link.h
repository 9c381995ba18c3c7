// The link for a program without a window: one thread writes the request,
// reads the line and watches the response timer, which is a deadline on a
// clock instead of a window timer. The request tracker, the send sequence
// and the receive step are the dialog's own; only the driving differs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"
#include "tool/link/link_owner.h"
#include "tool/link/receiver.h"
#include "tool/link/request_tracker.h"

namespace quillon {

// The open serial line, per platform (termios, Win32) and faked in tests.
class SerialLine : public LineReader {
public:
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from any fixed point, never going back.
    virtual std::int64_t NowMs() = 0;
};

// Sees every byte the receive step takes, for a trace of the wire.
class WireTap {
public:
    virtual ~WireTap() = default;
    virtual void Received(std::uint8_t byte, bool wasInFrame, const ResponseFrame& response) = 0;
};

// How a wait ended.
enum class WaitEnd {
    Answered,   // Answered was reported
    NoAnswer,   // NoAnswer was reported: a response period passed without answer or SYN
    Bound,      // the caller's bound on the whole wait was reached first
    Stopped,    // the caller's stop check said so
};

// Asked before every read; true ends the wait.
using StopCheck = std::function<bool()>;

class SingleThreadLink final : private ReceiverPort, private LinkOwner, private FrameWriter, private LinkEvents {
public:
    // Events go to events, on this thread. The response's length byte is
    // read unsigned, so an answer of up to 212 data bytes is taken whole.
    SingleThreadLink(SerialLine& line, Clock& clock, LinkEvents& events, WireTap* tap = nullptr);
    SingleThreadLink(const SingleThreadLink&) = delete;
    SingleThreadLink& operator=(const SingleThreadLink&) = delete;

    // Writes the built frame and waits for its answer, at most totalWaitMs.
    // The response periods end it earlier, except while a frame is arriving:
    // an answer whose bytes keep coming is waited for up to the bound. A
    // frame byte for byte the request just written is the line's echo: it
    // is reported (Echo) and skipped.
    WaitEnd Exchange(const RequestFrame& frame, std::int64_t totalWaitMs, const StopCheck& stopped = {});

    // The wait ended while a frame's bytes were still coming.
    bool MidFrame() const { return m_response.inFrame && !m_response.complete; }

private:
    // ReceiverPort
    ReadResult ReadByte(std::uint8_t& byte) override { return m_line.ReadByte(byte); }
    void RecoverFromReadFailure() override { m_line.RecoverFromReadFailure(); }
    void DeliverFrame(ResponseFrame& response) override;
    std::uint64_t NowMs() override { return static_cast<std::uint64_t>(m_clock.NowMs()); }
    void ByteRead(std::uint8_t byte, bool wasInFrame, const ResponseFrame& response) override;
    // LinkOwner
    void StartResponseTimer() override;
    // FrameWriter
    bool WriteFrame(const std::uint8_t* bytes, std::size_t count) override;
    // LinkEvents: passed on, the end of the wait noted.
    void OnLinkEvent(const LinkEvent& event) override;

    SerialLine& m_line;
    Clock& m_clock;
    LinkEvents& m_events;
    WireTap* m_tap;
    std::atomic<int> m_busy{0};
    RequestTracker m_tracker;
    ResponseFrame m_response;
    std::optional<std::int64_t> m_timerDeadline;
    std::uint64_t m_lastByteMs = 0;
    std::vector<std::uint8_t> m_written;   // the request on the line, to know its echo
    std::optional<WaitEnd> m_end;
};

}  // namespace quillon
