#include "receiver.h"

namespace quillon {

bool TakeByte(ResponseFrame& response, std::uint8_t byte, MessageSink& sink)
{
    if (byte == 0)
        return false;
    AddChar(response, byte, sink);
    return response.complete != 0;
}

void RunReceiver(ReceiverPort& port, ResponseFrame& response, MessageSink& sink, const std::atomic<bool>& stop)
{
    while (!stop) {
        std::uint8_t byte = 0;
        switch (port.ReadByte(byte)) {
        case ReadResult::Byte:
            if (TakeByte(response, byte, sink))
                port.DeliverFrame(response);
            break;
        case ReadResult::Failed:
            port.RecoverFromReadFailure();
            break;
        case ReadResult::Nothing:
            break;
        }
    }
}

}  // namespace quillon
