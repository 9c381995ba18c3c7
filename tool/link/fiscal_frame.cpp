#include "tool/link/fiscal_frame.h"

namespace quillon {

std::uint16_t FrameChecksum(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum = static_cast<std::uint16_t>(sum + bytes[i]);
    return sum;
}

std::array<std::uint8_t, 4> ChecksumChars(std::uint16_t checksum)
{
    std::array<std::uint8_t, 4> chars{};
    for (int i = 0; i < 4; ++i)
        chars[i] = static_cast<std::uint8_t>(0x30 + ((checksum >> (12 - 4 * i)) & 0x0F));
    return chars;
}

bool BuildRequestFrame(RequestFrame& request)
{
    const int n = request.dataLength;
    auto& f = request.frame;
    request.length = n + 4;
    f[0] = FiscalFrame::kStart;
    f[1] = static_cast<std::uint8_t>(FiscalFrame::kLengthBias + n + 4);
    f[2] = SequenceByte(request.sequence);
    f[3] = static_cast<std::uint8_t>(request.command);
    for (int i = 0; i < n; ++i)
        f[4 + i] = request.data[i];
    f[4 + n] = FiscalFrame::kPostamble;
    const auto chars = ChecksumChars(FrameChecksum(&f[1], static_cast<std::size_t>(n) + 4));
    for (int i = 0; i < 4; ++i)
        f[5 + n + i] = chars[i];
    f[9 + n] = FiscalFrame::kEnd;
    return true;
}

namespace {

void StartFrame(ResponseFrame& r)
{
    r.inFrame = 1;
    r.raw[0] = FiscalFrame::kStart;
    r.count = 1;
}

// The last byte of a frame has arrived: cut it into status, command and data.
void TakeApart(ResponseFrame& r)
{
    const int count = r.count;
    for (int i = 0; i < FiscalFrame::kStatusBytes; ++i)
        r.status[i] = r.raw[count - 11 + i];
    r.command = static_cast<std::int8_t>(r.raw[3]);
    r.dataLength = 0;
    for (int i = 4; i < count - 12; ++i)
        r.data[r.dataLength++] = r.raw[i];
    r.complete = 1;
}

}  // namespace

LengthFault AddChar(ResponseFrame& r, std::uint8_t b)
{
    if (r.complete)
        return LengthFault::None;  // a finished frame takes nothing more until it is delivered and reset
    if (!r.inFrame) {
        if (b == FiscalFrame::kStart)
            StartFrame(r);
        else if (b == FiscalFrame::kSyn)
            r.syn = 1;
        return LengthFault::None;  // NAK and every other byte outside a frame are ignored
    }

    if (r.count == 1) {
        const int length = r.unsignedLength ? static_cast<int>(b) : static_cast<int>(static_cast<std::int8_t>(b));
        r.expectedLength = length - FiscalFrame::kResponseLengthOffset;
        // Below 17 bytes there is no room for command, status and trailer;
        // taking such a frame apart would read before the raw buffer.
        if (r.expectedLength < FiscalFrame::kResponseOverhead) {
            const bool unusable = r.expectedLength < r.count;
            DiscardPartialFrame(r);
            return unusable ? LengthFault::Unusable : LengthFault::TooShort;
        }
    }
    if (r.expectedLength <= r.count + 1)
        TakeApart(r);
    r.raw[r.count] = b;
    ++r.count;
    return LengthFault::None;
}

void DiscardPartialFrame(ResponseFrame& r)
{
    r.inFrame = 0;
    r.count = 0;
    r.raw[0] = 0;
}

void ResetResponseFrame(ResponseFrame& r)
{
    r.count = 0;
    r.dataLength = 0;
    r.command = 0;
    r.inFrame = 0;
    r.complete = 0;
    r.syn = 0;
    r.raw[0] = 0;
    r.data[0] = 0;
}

}  // namespace quillon
