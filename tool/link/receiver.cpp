#include "tool/link/receiver.h"

#include "tool/link/link_settings.h"

namespace quillon {

bool TakeByte(ResponseFrame& response, std::uint8_t byte, LinkEvents& events)
{
    if (byte == 0)
        return false;
    if (!response.inFrame && byte == FiscalFrame::kNak)
        events.OnLinkEvent({LinkEventKind::Nak});
    switch (AddChar(response, byte)) {
    case LengthFault::None:
        break;
    case LengthFault::Unusable:
        events.OnLinkEvent({.kind = LinkEventKind::UnusableLength, .lengthByte = byte});
        break;
    case LengthFault::TooShort:
        events.OnLinkEvent({.kind = LinkEventKind::ShortLength, .lengthByte = byte});
        break;
    }
    return response.complete != 0;
}

bool DropStalledFrame(ResponseFrame& response, std::uint64_t msSinceLastByte, LinkEvents& events)
{
    if (!response.inFrame || response.complete || msSinceLastByte < kFrameGapMs)
        return false;
    const LinkEvent dropped{.kind = LinkEventKind::FrameStalled,
                            .bytesHad = response.count,
                            .bytesExpected = response.expectedLength};
    DiscardPartialFrame(response);
    events.OnLinkEvent(dropped);
    return true;
}

void ReceiveStep(ReceiverPort& port, ResponseFrame& response, LinkEvents& events, std::uint64_t& lastByteMs)
{
    std::uint8_t byte = 0;
    switch (port.ReadByte(byte)) {
    case ReadResult::Byte: {
        lastByteMs = port.NowMs();
        const bool wasInFrame = response.inFrame != 0;
        const bool complete = TakeByte(response, byte, events);
        port.ByteRead(byte, wasInFrame, response);
        if (complete)
            port.DeliverFrame(response);
        break;
    }
    case ReadResult::Failed:
        port.RecoverFromReadFailure();
        break;
    case ReadResult::Nothing:
        break;
    }
    DropStalledFrame(response, port.NowMs() - lastByteMs, events);
}

void RunReceiver(ReceiverPort& port, ResponseFrame& response, LinkEvents& events, const std::atomic<bool>& stop)
{
    std::uint64_t lastByteMs = port.NowMs();
    while (!stop)
        ReceiveStep(port, response, events, lastByteMs);
}

}  // namespace quillon
