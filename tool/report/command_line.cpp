#include "tool/report/command_line.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <vector>

namespace quillon::report {
namespace {

// "--name=value" or "--name value"; advances i past what it used. A value
// never begins with "--": "--log --json z-report" is a forgotten file name,
// not a log file called "--json".
std::optional<std::string_view> OptionValue(std::span<const std::string_view> args, std::size_t& i,
                                            std::string_view name, std::string& error)
{
    const std::string_view arg = args[i];
    std::string_view value;
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        error = std::string(name) + " needs a value";
        return std::nullopt;
    }
    if (value.substr(0, 2) == "--") {
        error = std::string(name) + " needs a value, not " + std::string(value);
        return std::nullopt;
    }
    return value;
}

bool HasName(std::string_view arg, std::string_view name)
{
    return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=');
}

std::optional<std::int64_t> ParseWhole(std::string_view text, std::int64_t low, std::int64_t high)
{
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

bool TakeText(std::span<const std::string_view> args, std::size_t& i, std::string_view name, std::string_view what,
              std::string& to, std::string& error)
{
    const auto value = OptionValue(args, i, name, error);
    if (!value)
        return false;
    if (value->empty()) {
        error = std::string(name) + " needs " + std::string(what);
        return false;
    }
    to = std::string(*value);
    return true;
}

bool TakeNumber(std::span<const std::string_view> args, std::size_t& i, std::string_view name, std::int64_t low,
                std::int64_t high, std::int64_t& to, std::string& error)
{
    const auto value = OptionValue(args, i, name, error);
    if (!value)
        return false;
    const auto number = ParseWhole(*value, low, high);
    if (!number) {
        error = std::string(name) + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    to = *number;
    return true;
}

bool TakeFlag(std::string_view arg, CommandLine& line)
{
    if (arg == "--dry-run") line.dryRun = true;
    else if (arg == "--trace") line.trace = true;
    else if (arg == "--json") line.json = true;
    else if (arg == "--list") line.list = true;
    else if (arg == "--ports") line.ports = true;
    else if (arg == "--find") line.find = true;
    else if (arg == "--help" || arg == "-h") line.help = true;
    else if (arg == "--version") line.version = true;
    else return false;
    return true;
}

bool TakeOperands(const std::vector<std::string_view>& operands, CommandLine& line, std::string& error)
{
    if (line.find) {
        line.findPorts.assign(operands.begin(), operands.end());
        return true;
    }
    if (operands.size() > 3) {
        error = "too many operands: OPERATION [FROM TO]";
        return false;
    }
    if (operands.size() == 2) {
        error = "FROM needs TO: give both ends of the range or neither";
        return false;
    }
    if (operands.empty()) {
        if (line.list || line.ports || line.help || line.version)
            return true;
        error = "no OPERATION given (--list shows them)";
        return false;
    }
    line.operation = std::string(operands[0]);
    if (operands.size() == 3) {
        line.first = std::string(operands[1]);
        line.second = std::string(operands[2]);
    }
    return true;
}

}  // namespace

bool AsksForJson(std::span<const std::string_view> args)
{
    for (std::string_view arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--json")
            return true;
    }
    return false;
}

std::optional<CommandLine> ParseCommandLine(std::span<const std::string_view> args, std::string& error)
{
    CommandLine line;
    std::vector<std::string_view> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (TakeFlag(arg, line)) {
        } else if (HasName(arg, "--port")) {
            if (!TakeText(args, i, "--port", "a port name", line.port, error))
                return std::nullopt;
        } else if (HasName(arg, "--log")) {
            if (!TakeText(args, i, "--log", "a file name", line.logPath, error))
                return std::nullopt;
        } else if (HasName(arg, "--state-dir")) {
            if (!TakeText(args, i, "--state-dir", "a folder", line.stateDir, error))
                return std::nullopt;
        } else if (HasName(arg, "--timeout-ms")) {
            if (!TakeNumber(args, i, "--timeout-ms", 1, kMaxTotalWaitMs, line.totalWaitMs, error))
                return std::nullopt;
        } else if (HasName(arg, "--baud")) {
            if (!TakeNumber(args, i, "--baud", kLineSpeeds[0], kLineSpeeds[std::size(kLineSpeeds) - 1], line.baud, error))
                return std::nullopt;
            if (std::find(std::begin(kLineSpeeds), std::end(kLineSpeeds), line.baud) == std::end(kLineSpeeds)) {
                error = "--baud takes 9600, 19200, 38400, 57600 or 115200";
                return std::nullopt;
            }
        } else if (HasName(arg, "--retries")) {
            if (!TakeNumber(args, i, "--retries", 0, kMaxRetries, line.retries, error))
                return std::nullopt;
        } else if (HasName(arg, "--wait-port")) {
            if (!TakeNumber(args, i, "--wait-port", 0, kMaxPortWaitSeconds, line.portWaitSeconds, error))
                return std::nullopt;
        } else {
            error = "unknown option " + std::string(arg);
            return std::nullopt;
        }
    }
    if (!TakeOperands(operands, line, error))
        return std::nullopt;
    return line;
}

}  // namespace quillon::report
