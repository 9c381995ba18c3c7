// quillon-report: one report operation from the command line. The whole
// program apart from the platform: arguments, the request, the status
// request, the wait and the tries, the output, the log and the exit code. The
// Linux and Windows mains only supply a ReportPlatform.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tool/report/exchange.h"
#include "tool/report/outcome.h"
#include "tool/report/serial_port_info.h"

namespace quillon::report {

enum class OpenStatus { Opened, BadName, Busy, CannotOpen, CannotReadState, CannotSetState };

struct OpenResult {
    OpenStatus status = OpenStatus::CannotOpen;
    std::string reason;   // UTF-8: the system's own error text, a hint where one helps
};

class ReportPlatform : public Clock {
public:
    // --- the port
    // COM1 on Windows, /dev/ttyS0 on Linux.
    virtual std::string DefaultPort() const = 0;
    // What --port takes, for --help.
    virtual std::string_view PortHelp() const = 0;
    // Opens the port for this run alone and sets it up (baud 8N1, raw, no
    // flow control); null with the status and reason when that fails. A
    // port that another program holds is Busy.
    virtual std::unique_ptr<SerialLine> OpenLine(const std::string& port, std::int64_t baud, OpenResult& result) = 0;
    virtual std::vector<SerialPortInfo> ListPorts() = 0;

    // --- the console
    // UTF-8 text to standard output; false with the reason when it is lost.
    virtual bool WriteOut(std::string_view text, std::string& why) = 0;
    virtual void WriteErr(std::string_view text) = 0;
    // Non-zero once the run is told to stop (signal, console event): the
    // exit code that the stop gives.
    virtual const std::atomic<int>& StopCode() = 0;
    // How many stops have come: a run that has sent its report waits for the
    // answer after the first, and ends at once after the second.
    virtual int StopCount() = 0;
    // Waits ms, or less when told to stop.
    virtual void Pause(std::int64_t ms) = 0;
    // "YYYY-MM-DD HH:MM:SS", local time.
    virtual std::string LocalTime() = 0;

    // --- the log
    // Appends in one write, so that lines of runs at the same time never
    // interleave; creates the file. False with the reason.
    virtual bool AppendFileText(const std::string& path, std::string_view text, std::string& why) = 0;
    // A number drawn from the clock: where the run's sequence bytes start.
    virtual int FirstSequence() = 0;
};

// Runs the program on the arguments after the program name. Never throws.
ExitCode RunReportProgram(std::span<const std::string_view> args, ReportPlatform& platform);

}  // namespace quillon::report
