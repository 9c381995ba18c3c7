// Options of the printer-sim program. Portable, so tests can check them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "devtools/printer-sim/printer.h"

namespace quillon::sim {

struct CommandLine {
    std::string linkPath;     // --link: make a pty and publish its device here
    std::string devicePath;   // --device: use this existing tty
    std::string tracePath;    // --trace: append trace lines here; empty = stdout
    std::string ranLogPath;   // --ran-log: append a line for each request run; empty = none
    std::int64_t baud = 0;    // --baud: pace the output like a line of this speed; 0 = at once
    std::int64_t lineSpeed = 0;   // --line-speed: understand only a client set to this speed; 0 = any
    bool help = false;
    PrinterOptions printer;
};

extern const char kUsage[];

// Returns the options, or nothing with a one-line reason in error.
std::optional<CommandLine> ParseCommandLine(std::span<const std::string_view> args, std::string& error);

}  // namespace quillon::sim
