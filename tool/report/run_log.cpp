#include "tool/report/run_log.h"

#include <cstdio>

#include "tool/report/json_text.h"

namespace quillon::report {
namespace {

// Control bytes become \xHH; invalid UTF-8 is escaped the way JSON text is.
std::string Field(std::string_view text)
{
    std::string quoted = JsonString(text);   // escapes control bytes and invalid UTF-8
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] == '\\' && quoted[i + 1] == 'u') {   // \u00XX of a control byte
            out += "\\x" + quoted.substr(i + 4, 2);
            i += 5;
        } else if (quoted[i] == '\\') {
            out.push_back(quoted[++i]);   // \" and \\ stand for themselves
        } else {
            out.push_back(quoted[i]);
        }
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
