// Options and operands of quillon-report. Portable, so that every bad
// argument can be tested natively.
//
//   quillon-report [--port PORT] [--wait-port SECONDS] [--log FILE] [--retries N]
//                  [--dry-run] [--trace] [--json] [--timeout-ms N] OPERATION [FROM TO]
//   quillon-report --find [PORT...] | --list | --ports | --help | --version   [--json]
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::report {

// The bound on the whole wait for an answer, however long SYN bytes keep it
// open; --timeout-ms sets another.
inline constexpr std::int64_t kDefaultTotalWaitMs = 30'000;
inline constexpr std::int64_t kMaxTotalWaitMs = 24LL * 3600 * 1000;
inline constexpr std::int64_t kMaxPortWaitSeconds = 24LL * 3600;
// The speeds a run may set (--baud), and the order --find tries them in.
inline constexpr std::int64_t kDefaultBaud = 9600;
inline constexpr std::int64_t kLineSpeeds[] = {9600, 19200, 38400, 57600, 115200};

// How often a request whose answer was lost is sent again, as the same bytes.
inline constexpr std::int64_t kDefaultRetries = 3;
inline constexpr std::int64_t kMaxRetries = 20;

struct CommandLine {
    std::string port;                  // empty: the platform's default
    std::string operation;             // as given: index or name
    std::optional<std::string> first;  // FROM and TO, both or neither
    std::optional<std::string> second;
    std::string logPath;               // --log: append one line per run
    std::string stateDir;              // --state-dir: accepted for older scripts, not used
    std::int64_t retries = kDefaultRetries;
    std::int64_t baud = kDefaultBaud;
    bool find = false;                 // --find: look for the printer on these ports (all when none)
    std::vector<std::string> findPorts;
    std::int64_t totalWaitMs = kDefaultTotalWaitMs;
    std::int64_t portWaitSeconds = 0;  // --wait-port: how long a busy port is waited for
    bool dryRun = false;
    bool trace = false;
    bool json = false;
    bool list = false;
    bool ports = false;
    bool help = false;
    bool version = false;
};

// Whether the arguments ask for JSON, looked for even when they cannot be
// parsed, so that a usage error is answered in JSON too.
bool AsksForJson(std::span<const std::string_view> args);

// The options, or nothing with a one-line reason in error. Options may stand
// before or after the operands; "--" ends them.
std::optional<CommandLine> ParseCommandLine(std::span<const std::string_view> args, std::string& error);

}  // namespace quillon::report
