#include "receiver.h"

#include "link_settings.h"

namespace quillon {

bool TakeByte(ResponseFrame& response, std::uint8_t byte, MessageSink& sink)
{
    if (byte == 0)
        return false;
    AddChar(response, byte, sink);
    return response.complete != 0;
}

bool DropStalledFrame(ResponseFrame& response, std::uint64_t msSinceLastByte)
{
    if (!response.inFrame || response.complete || msSinceLastByte < kFrameGapMs)
        return false;
    DiscardPartialFrame(response);
    return true;
}

void RunReceiver(ReceiverPort& port, ResponseFrame& response, MessageSink& sink, const std::atomic<bool>& stop)
{
    std::uint64_t lastByteMs = port.NowMs();
    while (!stop) {
        std::uint8_t byte = 0;
        switch (port.ReadByte(byte)) {
        case ReadResult::Byte:
            lastByteMs = port.NowMs();
            if (TakeByte(response, byte, sink))
                port.DeliverFrame(response);
            break;
        case ReadResult::Failed:
            port.RecoverFromReadFailure();
            break;
        case ReadResult::Nothing:
            break;
        }
        DropStalledFrame(response, port.NowMs() - lastByteMs);
    }
}

}  // namespace quillon
