// One line per run for --log: what a scheduled report leaves behind where
// the scheduler keeps nothing but the exit code. Fields are separated by
// tabs; a field never holds a tab, a line end or a byte that is not UTF-8.
//
//   2026-12-09 21:30:02<TAB>z-report<TAB>COM1<TAB>ok<TAB>0<TAB>412<TAB>sent<TAB>0<TAB>80 80 80 80 80 80<TAB>"1,0.00"
//   local time, operation, port, outcome, exit code, elapsed ms, whether the
//   report's bytes went out ("sent" or "not-sent"), how often they were sent
//   again, the printer's six status bytes (empty when it never answered),
//   answer data (in quotes, when the report was answered; empty otherwise)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::report {

struct RunRecord {
    std::string localTime;   // "YYYY-MM-DD HH:MM:SS"
    std::string operation;   // the name, or the text given when it names none
    std::string port;
    std::string_view outcome;
    int exitCode = 0;
    std::int64_t elapsedMs = 0;
    bool sent = false;
    int resent = 0;
    std::string status;      // hex bytes, blank-separated
    std::string data;        // answer data as DataText shows it; empty unless answered
};

// The line, ending with "\n".
std::string LogLine(const RunRecord& record);

}  // namespace quillon::report
