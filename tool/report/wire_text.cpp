#include "tool/report/wire_text.h"

#include "tool/report/utf8_text.h"

namespace quillon::report {
std::string RequestLine(const RequestFrame& request)
{
    const std::span<const std::uint8_t> frame(request.frame.data(), request.FrameSize());
    const std::span<const std::uint8_t> data(request.frame.data() + 4, static_cast<std::size_t>(request.dataLength));
    return "TX " + HexBytes(frame) + " | " + FrameFields(request.command, frame[2], data, CyrillicLetterUtf8);
}

void WireTrace::Received(std::uint8_t byte, bool wasInFrame, const ResponseFrame& response)
{
    if (!wasInFrame) {
        if (response.inFrame) {
            FlushNoise();
            m_frame.assign(1, byte);
        } else if (byte == FiscalFrame::kSyn) {
            FlushNoise();
            m_out("RX SYN 16");
        } else if (byte == FiscalFrame::kNak) {
            FlushNoise();
            m_out("RX NAK 15");
        } else {
            m_noise.push_back(byte);
        }
        return;
    }
    // Zero bytes never reach the assembler but are on the wire: shown here.
    m_frame.push_back(byte);
    if (response.complete) {
        const std::span<const std::uint8_t> data(response.data.data(), static_cast<std::size_t>(response.dataLength));
        const std::span<const std::uint8_t> status(response.status);
        m_out("RX " + HexBytes(m_frame) + " | " +
              FrameFields(response.raw[3], response.raw[2], data, CyrillicLetterUtf8) +
              " status=" + HexBytes(status));
        m_frame.clear();
    } else if (!response.inFrame) {
        m_out("RX BAD " + HexBytes(m_frame) + " | reason=length");
        m_frame.clear();
    }
}

void WireTrace::FrameDropped()
{
    if (m_frame.empty())
        return;
    m_out("RX BAD " + HexBytes(m_frame) + " | reason=incomplete");
    m_frame.clear();
}

void WireTrace::Finish()
{
    FlushNoise();
    FrameDropped();
}

void WireTrace::FlushNoise()
{
    if (m_noise.empty())
        return;
    m_out("RX NOISE " + HexBytes(m_noise));
    m_noise.clear();
}

}  // namespace quillon::report
