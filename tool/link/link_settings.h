// Names and line settings of the serial link. Portable values; the Windows
// glue copies them into its DCB, COMMTIMEOUTS and object names.
#pragma once

#include <cstdint>

namespace quillon {

// "COM2".."COM4" for port numbers 2..4; every other number means "COM1".
const char* PortName(int portNumber);

// The receiver's per-port event: "COM2sss".."COM4sss", else "COM1sss".
// Named objects are machine-wide: other programs that watch the line open
// these names, so they stay as the first releases spelt them.
const char* ReceiverEventName(int portNumber);

// The gate event that the receiver waits on before every read; the same
// machine-wide name, kept for the same reason, is opened by every copy.
inline constexpr char kGateEventName[] = "eventName";

// 9600 baud, 8 data bits, no parity, one stop bit, no flow control, DTR and
// RTS held off, reads abort on a line error until it is cleared.
struct LineSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;      // NOPARITY
    std::uint8_t stopBits = 0;    // ONESTOPBIT
    bool binary = true;
    bool abortOnError = true;
    std::uint8_t dtrControl = 0;  // DTR_CONTROL_DISABLE
    std::uint8_t rtsControl = 0;  // RTS_CONTROL_DISABLE
    // XON and XOFF as usual. Flow control is off, so neither is ever sent,
    // but SetCommState refuses equal characters on some USB and virtual
    // port drivers (error 87), and the port could not be used at all.
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
};
inline constexpr LineSettings kLineSettings{};

// EV_RXCHAR | EV_CTS | EV_DSR. Set and checked, never waited on.
inline constexpr std::uint32_t kEventMask = 0x19;

// A read returns as soon as one byte is there and otherwise waits at most
// kReadWaitMs, so an idle receiver sleeps in the driver instead of polling,
// and still looks at its stop flag a few dozen times a second.
inline constexpr std::uint32_t kReadWaitMs = 40;
struct ReadTimeouts {
    std::uint32_t intervalTimeout = 0xFFFFFFFF;   // MAXDWORD
    std::uint32_t totalMultiplier = 0xFFFFFFFF;   // MAXDWORD: with the above, "return on the first byte"
    std::uint32_t totalConstant = kReadWaitMs;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;              // writes have no time-out
};
inline constexpr ReadTimeouts kReadTimeouts{};

// A frame whose bytes stop for this long is given up (about 190 byte times
// at 9600 baud; the printer sends a frame without pauses).
inline constexpr std::uint64_t kFrameGapMs = 200;

// The printer answers within this period of the send, or sends SYN at least
// once in every such period until it answers.
inline constexpr std::uint32_t kResponsePeriodMs = 500;

// How long closing waits for the receiver to see its stop flag before it is
// ended by force. Closing answers the receiver's message boxes meanwhile, so
// only a receiver held by something else takes that long.
inline constexpr std::uint32_t kReceiverStopWaitMs = 10 * kReadWaitMs + 100;

}  // namespace quillon
