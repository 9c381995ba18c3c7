// What the link reports, as typed events: no texts and no boxes. The dialog
// turns them into its output field and message boxes, quillon-report into
// outcomes and exit codes.
#pragma once

#include <cstdint>

namespace quillon {

struct ResponseFrame;

enum class LinkEventKind {
    // The wait for a request's answer.
    Answered,          // a response while a request was outstanding; the wait is over
    TaxRateError,      // follows Answered: command 50 whose data begins with 'F'
    Unsolicited,       // a response with no request outstanding; it is dropped
    SynExtended,       // a response period ended with a SYN seen: one more period
    NoAnswer,          // a response period ended with neither answer nor SYN; the wait is over
    // The line.
    Nak,               // a NAK outside a frame; ignored, nothing is resent
    UnusableLength,    // a length byte that describes less than one byte; the frame is given up
    ShortLength,       // a length byte too small for command, status and trailer; given up
    FrameStalled,      // a frame's bytes stopped for kFrameGapMs; given up
    Echo,              // the request's own bytes came back (a line that hears itself); skipped
    // The connection's own failures.
    NoMemory,
    PortNotOpened,
    CannotReadState,
    CannotSetState,
    MakeConectionWithoutLink,
    DisconectionWithoutLink,
    SendRequestWithoutLink,
};

struct LinkEvent {
    LinkEventKind kind;
    // Answered, TaxRateError, Unsolicited: the complete response, valid
    // only during the call (the receiver resets it afterwards).
    const ResponseFrame* response = nullptr;
    std::uint8_t lengthByte = 0;       // UnusableLength, ShortLength
    std::int32_t bytesHad = 0;         // FrameStalled: bytes assembled ...
    std::int32_t bytesExpected = 0;    // ... of the length the frame announced
};

class LinkEvents {
public:
    virtual ~LinkEvents() = default;
    // Called on the thread where the event arises: the receiver's for the
    // line and for responses, the window's for time-outs and the
    // connection's failures. It may block (a modal box holds the receiver
    // until it is closed; the bytes wait in the port meanwhile).
    virtual void OnLinkEvent(const LinkEvent& event) = 0;
};

}  // namespace quillon
