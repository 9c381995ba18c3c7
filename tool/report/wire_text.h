// Text of frames and bytes on the wire, for --dry-run, --trace and the
// answer's data. Lines look like the printer simulator's trace:
//
//   TX 01 25 21 45 33 05 30 30 3C 33 03 | cmd=69 seq=0x21 data="3"
//   RX <hex> | cmd=69 seq=0x21 data="..." status=80 80 80 80 80 80
//   RX SYN 16    RX NAK 15    RX NOISE <hex>    RX BAD <hex> | reason=<length|incomplete>
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tool/link/byte_text.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/single_thread_link.h"

namespace quillon::report {

// "TX <hex> | cmd=.. seq=0x.. data=".."" of a built request.
std::string RequestLine(const RequestFrame& request);

// Follows the bytes the receiver takes and makes one line per frame or
// control byte. Fed the response record as it stands after each byte.
class WireTrace final : public WireTap {
public:
    using LineOut = std::function<void(const std::string&)>;
    explicit WireTrace(LineOut out) : m_out(std::move(out)) {}

    void Sent(const RequestFrame& request) { m_out(RequestLine(request)); }
    // wasInFrame: the record's in-frame flag before the byte was taken.
    void Received(std::uint8_t byte, bool wasInFrame, const ResponseFrame& response) override;
    // The frame being assembled was dropped unfinished.
    void FrameDropped();
    // The run ends: whatever is pending is written.
    void Finish();

private:
    void FlushNoise();

    LineOut m_out;
    std::vector<std::uint8_t> m_noise;
    std::vector<std::uint8_t> m_frame;
};

}  // namespace quillon::report
