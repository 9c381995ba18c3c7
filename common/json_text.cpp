#include "common/json_text.h"

#include <cstdint>
#include <cstdio>

namespace lorvane {

std::size_t Utf8SequenceLength(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

namespace {

// Two upper-case hex digits.
std::string Hex(std::uint8_t b)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 0x0F]};
}

}  // namespace

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    while (!text.empty()) {
        const auto b = static_cast<std::uint8_t>(text[0]);
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            out += "\\\\x" + Hex(b);
            text.remove_prefix(1);
            continue;
        }
        if (b == '"' || b == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(b));
        } else if (b < 0x20 || b == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += escaped;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

JsonObject& JsonObject::Raw(std::string_view name, std::string_view json)
{
    m_text += m_text.empty() ? "{" : ",";
    m_text += JsonString(name) + ":" + std::string(json);
    return *this;
}

JsonArray& JsonArray::Add(std::string_view json)
{
    m_text += m_text.empty() ? "[" : ",";
    m_text += json;
    return *this;
}

}  // namespace lorvane
