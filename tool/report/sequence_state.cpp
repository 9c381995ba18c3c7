#include "tool/report/sequence_state.h"

#include <charconv>
#include <cstdio>

#include "tool/link/fiscal_frame.h"
#include "tool/link/request_tracker.h"

namespace quillon::report {

std::string SequenceStateFileName(std::string_view canonicalPort)
{
    std::string name;
    for (char c : canonicalPort) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (plain)
            name.push_back(c);
        else if (!name.empty() && name.back() != '-')
            name.push_back('-');
    }
    // Never "COM1.seq": Windows takes a device name with any extension for
    // the device itself, so reading the state would read the port.
    return "port-" + (name.empty() ? std::string("unnamed") : name) + ".seq";
}

std::optional<std::uint8_t> ParseSequenceState(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    if (text.size() != 4 || text.substr(0, 2) != "0x")
        return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data() + 2, text.data() + 4, value, 16);
    if (ec != std::errc() || end != text.data() + 4 || value == 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::string SequenceStateText(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X\n", byte);
    return text;
}

int SequenceAfter(std::uint8_t lastByte)
{
    const int last = static_cast<std::uint8_t>(lastByte - FiscalFrame::kSequenceBias);
    return NextSequence(last);
}

}  // namespace quillon::report
