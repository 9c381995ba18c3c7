#include "tool/report/wire_text.h"

#include <cstdio>

#include "tool/report/utf8_text.h"

namespace quillon::report {
namespace {

std::string HexByte(std::uint8_t b)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string FrameFields(int command, std::uint8_t sequence, std::span<const std::uint8_t> data)
{
    return "cmd=" + std::to_string(command) + " seq=0x" + HexByte(sequence) + " data=\"" + DataText(data) + "\"";
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty())
            text.push_back(' ');
        text += HexByte(b);
    }
    return text;
}

std::string DataText(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (std::uint8_t b : bytes) {
        if (b == '"' || b == '\\') {
            text.push_back('\\');
            text.push_back(static_cast<char>(b));
        } else if (b >= 0x20 && b < 0x7F) {
            text.push_back(static_cast<char>(b));
        } else if (b >= 0xC0 || b == 0xA8 || b == 0xB8) {   // Cyrillic letters
            text += Utf8From1251(std::string_view(reinterpret_cast<const char*>(&b), 1));
        } else {
            text += "\\x" + HexByte(b);
        }
    }
    return text;
}

std::string RequestLine(const RequestFrame& request)
{
    const std::span<const std::uint8_t> frame(request.frame.data(), request.FrameSize());
    const std::span<const std::uint8_t> data(request.frame.data() + 4, static_cast<std::size_t>(request.dataLength));
    return "TX " + HexBytes(frame) + " | " + FrameFields(request.command, frame[2], data);
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
              FrameFields(response.raw[3], response.raw[2], data) +
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
