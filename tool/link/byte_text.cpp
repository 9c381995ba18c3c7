#include "tool/link/byte_text.h"

namespace quillon {

std::string HexByte(std::uint8_t b)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 0x0F]};
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += HexByte(b);
    }
    return text;
}

std::string DataText(std::span<const std::uint8_t> bytes, ByteText textOf)
{
    std::string text;
    for (const std::uint8_t b : bytes) {
        if (b == '"' || b == '\\') {
            text += '\\';
            text += static_cast<char>(b);
        } else if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else if (std::string own = textOf ? textOf(b) : std::string(); !own.empty()) {
            text += own;
        } else {
            text += "\\x" + HexByte(b);
        }
    }
    return text;
}

std::string FrameFields(int command, std::uint8_t sequence, std::span<const std::uint8_t> data, ByteText textOf)
{
    return "cmd=" + std::to_string(command) + " seq=0x" + HexByte(sequence) + " data=\"" + DataText(data, textOf) +
           "\"";
}

}  // namespace quillon
