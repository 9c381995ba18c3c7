// Options and operands of quillon-report. Portable, so that every bad
// argument can be tested natively.
//
//   quillon-report [--port PORT] [--dry-run] [--trace] [--json] [--timeout-ms N] OPERATION [FROM TO]
//   quillon-report --list | --help | --version
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillon::report {

// The bound on the whole wait for an answer, however long SYN bytes keep it
// open; --timeout-ms sets another.
inline constexpr std::int64_t kDefaultTotalWaitMs = 30'000;
inline constexpr std::int64_t kMaxTotalWaitMs = 24LL * 3600 * 1000;

struct CommandLine {
    std::string port;                  // empty: the platform's default
    std::string operation;             // as given: index or name
    std::optional<std::string> first;  // FROM and TO, both or neither
    std::optional<std::string> second;
    std::int64_t totalWaitMs = kDefaultTotalWaitMs;
    bool dryRun = false;
    bool trace = false;
    bool json = false;
    bool list = false;
    bool help = false;
    bool version = false;
};

// 1..4 for "COM1".."COM4" (letter case ignored), else 0: the ports the
// control tool serves on Windows.
int ComPortNumber(std::string_view port);

// The options, or nothing with a one-line reason in error. Options may stand
// before or after the operands; "--" ends them.
std::optional<CommandLine> ParseCommandLine(std::span<const std::string_view> args, std::string& error);

}  // namespace quillon::report
