// quillon-report: one report operation from the command line. The whole
// program apart from the platform: arguments, the request, the port's
// sequence state, the wait, the output, the log and the exit code. The
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
    // The name the port's sequence state is kept under: the device a Linux
    // path leads to, COMn in capitals on Windows.
    virtual std::string CanonicalPort(const std::string& port) const = 0;
    // Opens the port for this run alone and sets it up (9600 8N1, raw, no
    // flow control); null with the status and reason when that fails. A
    // port that another program holds is Busy.
    virtual std::unique_ptr<SerialLine> OpenLine(const std::string& port, OpenResult& result) = 0;
    virtual std::vector<SerialPortInfo> ListPorts() = 0;

    // --- the console
    // UTF-8 text to standard output; false with the reason when it is lost.
    virtual bool WriteOut(std::string_view text, std::string& why) = 0;
    virtual void WriteErr(std::string_view text) = 0;
    // Non-zero once the run is told to stop (signal, console event): the
    // exit code that the stop gives.
    virtual const std::atomic<int>& StopCode() = 0;
    // Waits ms, or less when told to stop.
    virtual void Pause(std::int64_t ms) = 0;
    // "YYYY-MM-DD HH:MM:SS", local time.
    virtual std::string LocalTime() = 0;

    // --- files: the log and the sequence state
    // The folder the sequence state is kept in without --state-dir; empty
    // when there is none.
    virtual std::string DefaultStateDir() = 0;
    virtual std::string JoinPath(const std::string& dir, const std::string& name) const = 0;
    virtual std::optional<std::string> ReadFileText(const std::string& path) = 0;
    // Replaces the file as a whole (making its folder); false with the reason.
    virtual bool ReplaceFileText(const std::string& path, std::string_view text, std::string& why) = 0;
    // Appends in one write, so that lines of runs at the same time never
    // interleave; creates the file. False with the reason.
    virtual bool AppendFileText(const std::string& path, std::string_view text, std::string& why) = 0;
    // The sequence number of a port's first run, when no state is kept yet.
    virtual int FirstSequence() = 0;
};

// Runs the program on the arguments after the program name. Never throws.
ExitCode RunReportProgram(std::span<const std::string_view> args, ReportPlatform& platform);

}  // namespace quillon::report
