// Arbitrary byte streams into the response assembler, fed as the receiver
// feeds it. Checks that a delivered frame's command, data and status are the
// bytes at their offsets in the frame as it arrived. Out-of-bounds access is
// caught by the sanitizers.
#include "tool/link/fiscal_frame.h"

#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quillon;
    static ResponseFrame frame;  // large; reused as the receiver reuses it
    ResetResponseFrame(frame);
    std::vector<std::uint8_t> current;  // bytes since the frame's 0x01

    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b == 0)
            continue;  // the receiver never passes zero bytes on
        const bool wasInFrame = frame.inFrame;
        AddChar(frame, b);
        if (!wasInFrame && frame.inFrame)
            current.assign(1, b);
        else if (wasInFrame)
            current.push_back(b);
        Check(frame.count >= 0 && frame.count <= static_cast<int>(ResponseFrame::kBufferSize));
        if (!frame.complete)
            continue;

        const int n = frame.dataLength;
        Check(static_cast<int>(current.size()) == n + FiscalFrame::kResponseOverhead);
        Check(frame.command == static_cast<std::int8_t>(current[3]));
        for (int k = 0; k < n; ++k)
            Check(frame.data[k] == current[4 + k]);
        for (int k = 0; k < FiscalFrame::kStatusBytes; ++k)
            Check(frame.status[k] == current[5 + n + k]);
        ResetResponseFrame(frame);
        current.clear();
    }
    return 0;
}
