#include "tool/report/run_log.h"

#include <cstdio>

#include "common/json_text.h"
#include "tool/link/byte_text.h"

namespace quillon::report {

namespace {

// Control bytes (tab and line ends among them) and bytes that are not
// UTF-8 become \xHH, so a field never splits the line.
std::string Field(std::string_view text)
{
    std::string out;
    while (!text.empty()) {
        const auto b = static_cast<std::uint8_t>(text[0]);
        const std::size_t length = lorvane::Utf8SequenceLength(text);
        if (length == 0 || b < 0x20 || b == 0x7F) {
            out += "\\x" + HexByte(b);
            text.remove_prefix(1);
            continue;
        }
        out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace

std::string LogLine(const RunRecord& record)
{
    std::string line = Field(record.localTime) + "\t" + Field(record.operation) + "\t" + Field(record.port) + "\t" +
                       std::string(record.outcome) + "\t" + std::to_string(record.exitCode) + "\t" +
                       std::to_string(record.elapsedMs) + "\t" + (record.sent ? "sent" : "not-sent") + "\t" +
                       std::to_string(record.resent) + "\t" + record.status + "\t";
    if (!record.data.empty())
        line += "\"" + Field(record.data) + "\"";
    return line + "\n";
}

}  // namespace quillon::report
