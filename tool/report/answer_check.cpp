#include "tool/report/answer_check.h"

#include "tool/link/byte_text.h"
#include "tool/link/fiscal_frame.h"

namespace quillon::report {

std::string FrameDamage(std::span<const std::uint8_t> frame)
{
    // 0x01, length .. status, 0x05, four checksum characters, 0x03.
    constexpr std::size_t kTrailer = 1 + FiscalFrame::kChecksumChars + 1;
    if (frame.size() < static_cast<std::size_t>(FiscalFrame::kResponseOverhead))
        return "frame of " + std::to_string(frame.size()) + " bytes is too short";
    const std::size_t postamble = frame.size() - kTrailer;
    if (frame[postamble] != FiscalFrame::kPostamble)
        return "no 0x05 before the checksum";
    if (frame.back() != FiscalFrame::kEnd)
        return "no 0x03 at the end";
    // The printer's answer puts 0x04 before its six status bytes; a request
    // (an echo of the line) has none there.
    if (frame[postamble - FiscalFrame::kStatusBytes - 1] != FiscalFrame::kStatusSeparator)
        return "no 0x04 before the status bytes";
    const auto expected = ChecksumChars(FrameChecksum(frame.data() + 1, postamble));
    const std::span<const std::uint8_t> got = frame.subspan(postamble + 1, FiscalFrame::kChecksumChars);
    if (!std::equal(got.begin(), got.end(), expected.begin()))
        return "wrong checksum " + HexBytes(got) + ", expected " + HexBytes(expected);
    return {};
}

}  // namespace quillon::report
