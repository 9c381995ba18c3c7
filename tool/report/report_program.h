// quillon-report: one report operation from the command line. The whole
// program apart from the platform: arguments, the request, the wait, the
// output and the exit code. The Linux and Windows mains only supply a
// ReportPlatform.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "tool/report/exchange.h"

namespace quillon::report {

// Each failure has its own code; --help and the README list them.
enum class ExitCode : int {
    Ok = 0,
    Unexpected = 1,         // nothing the program foresaw (out of memory)
    Usage = 2,              // bad options or operands
    RangeRefused = 3,       // FROM/TO refused as the dialog refuses them
    UnknownOperation = 4,
    PortNotOpened = 5,      // the port cannot be opened or set up
    NotAnswering = 6,       // no answer within the time-out rules or the total bound
    TaxRateError = 7,       // command 50 answered with F
    OtherCommand = 8,       // the answer is to another command than the one sent
};

enum class OpenStatus { Opened, BadName, CannotOpen, CannotReadState, CannotSetState };

class ReportPlatform : public Clock {
public:
    // COM1 on Windows, /dev/ttyS0 on Linux.
    virtual std::string DefaultPort() const = 0;
    // What --port takes, for --help.
    virtual std::string_view PortHelp() const = 0;
    // Opens and sets up the line (9600 8N1, raw, no flow control); null with
    // the reason in status when that fails.
    virtual std::unique_ptr<SerialLine> OpenLine(const std::string& port, OpenStatus& status) = 0;
    // UTF-8 text to standard output and standard error.
    virtual void WriteOut(std::string_view text) = 0;
    virtual void WriteErr(std::string_view text) = 0;
};

// Runs the program on the arguments after the program name. Never throws.
ExitCode RunReportProgram(std::span<const std::string_view> args, ReportPlatform& platform);

}  // namespace quillon::report
