// printer-sim: stands in for the fiscal printer on a pty or a tty (Linux).
// The behaviour lives in PrinterSim; this file owns the descriptors, the
// clock, the trace output and the signals, and waits in poll() between events.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/posix/write_all.h"
#include "devtools/printer-sim/command_line.h"
#include "devtools/printer-sim/printer.h"
#include "devtools/printer-sim/trace_format.h"
#include "devtools/printer-sim/tty_line.h"
#include "devtools/printer-sim/wire_pacer.h"

namespace quillon::sim {
namespace {

std::int64_t ClockUs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

std::int64_t MonotonicUs() { return ClockUs(CLOCK_MONOTONIC); }
std::int64_t MonotonicMs() { return MonotonicUs() / 1000; }

std::string WallClockStamp()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld ", local.tm_hour, local.tm_min, local.tm_sec,
                  ts.tv_nsec / 1'000'000);
    return stamp;
}

bool WriteAll(int fd, const std::string& text)
{
    return lorvane::posix::WriteAll(fd, text.data(), text.size());
}

UniqueFd OpenForAppend(const std::string& path)
{
    return UniqueFd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
}

// One write per line, so lines from a tailing reader's view never interleave
// and each is on disk when the next byte goes out.
class TraceWriter {
public:
    bool Open(const std::string& path)
    {
        if (path.empty())
            return true;
        m_file = OpenForAppend(path);
        return m_file.Valid();
    }

    void Write(const std::string& line) const
    {
        const std::string text = WallClockStamp() + line + "\n";
        const int fd = m_file.Valid() ? m_file.Get() : STDOUT_FILENO;
        // A pipe that nobody drains must not stop the printer: a line goes
        // only where there is room for it (lines are shorter than PIPE_BUF).
        pollfd room{fd, POLLOUT, 0};
        if (poll(&room, 1, 0) != 1 || !(room.revents & POLLOUT))
            return;
        WriteAll(fd, text);   // a lost trace line must not stop the printer
    }

private:
    UniqueFd m_file;
};

// The requests that the printer ran, one line each, written before the
// answer goes out: a client that has its answer finds the line there.
class RanLog {
public:
    bool Open(const std::string& path)
    {
        if (path.empty())
            return true;
        m_path = path;
        m_file = OpenForAppend(path);
        return m_file.Valid();
    }

    void Write(const std::string& line) const
    {
        if (m_file.Valid() && !WriteAll(m_file.Get(), line + "\n"))
            std::fprintf(stderr, "printer-sim: %s: %s: %s\n", m_path.c_str(), std::strerror(errno), line.c_str());
    }

private:
    std::string m_path;
    UniqueFd m_file;
};

// Without a pacer bytes go to the line at once; with one they wait their
// turn, and the trace line of a paced chunk is written when its last byte
// has gone, with the times of its first and last byte.
class LineOutput : public PrinterOutput, private PacedLine {
public:
    LineOutput(TtyLine& line, const TraceWriter& trace, const RanLog& ranLog, std::int64_t baud)
        : m_line(line), m_trace(trace), m_ranLog(ranLog), m_pacer(ByteTimeUs(baud)), m_paced(baud > 0),
          m_realtimeOffsetUs(ClockUs(CLOCK_REALTIME) - MonotonicUs())
    {
    }

    void Send(std::span<const std::uint8_t> bytes) override
    {
        if (!m_paced) {
            m_line.Send(bytes);
            return;
        }
        m_pacer.Queue(bytes);
        m_traceFollowsSend = true;
    }
    // PrinterSim traces each chunk that it sends right after sending it.
    void Trace(const std::string& line) override
    {
        if (m_traceFollowsSend)
            m_pacer.AttachTrace(line);
        else
            m_trace.Write(line);
        m_traceFollowsSend = false;
    }
    void Ran(const Request& request) override { m_ranLog.Write(RunLine(request)); }

    void Release(std::int64_t nowUs) { m_pacer.Release(nowUs, *this); }
    std::optional<std::int64_t> NextDueUs() const { return m_pacer.NextDueUs(); }

private:
    void SendByte(std::uint8_t byte) override { m_line.Send(std::span(&byte, 1)); }
    void ChunkSent(const std::string& traceLine, std::int64_t firstUs, std::int64_t lastUs) override
    {
        m_trace.Write(traceLine + WireTimes(firstUs + m_realtimeOffsetUs, lastUs + m_realtimeOffsetUs));
    }

    TtyLine& m_line;
    const TraceWriter& m_trace;
    const RanLog& m_ranLog;
    WirePacer m_pacer;
    bool m_paced;
    bool m_traceFollowsSend = false;
    std::int64_t m_realtimeOffsetUs;
};

// SIGINT, SIGTERM and SIGHUP arrive through a descriptor, so the loop ends
// between two steps and the destructors remove the link.
UniqueFd StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return UniqueFd(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Microsecond waits: a byte at 9600 baud takes 1042 us, below poll()'s resolution.
std::optional<timespec> PollTimeout(std::optional<std::int64_t> deadlineUs, std::int64_t nowUs)
{
    if (!deadlineUs)
        return std::nullopt;
    const std::int64_t us = std::clamp<std::int64_t>(*deadlineUs - nowUs, 0, 60'000'000);
    return timespec{static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000) * 1000};
}

std::optional<std::int64_t> InUs(std::optional<std::int64_t> ms)
{
    return ms ? std::optional<std::int64_t>(*ms * 1000) : std::nullopt;
}

std::optional<std::int64_t> Earliest(std::optional<std::int64_t> a, std::optional<std::int64_t> b)
{
    if (a && b)
        return std::min(*a, *b);
    return a ? a : b;
}

int Run(const CommandLine& options)
{
    const UniqueFd stop = StopSignals();
    if (!stop.Valid()) {
        std::perror("printer-sim: signalfd");
        return 1;
    }
    TraceWriter trace;
    if (!trace.Open(options.tracePath)) {
        std::perror(("printer-sim: " + options.tracePath).c_str());
        return 1;
    }
    RanLog ranLog;
    if (!ranLog.Open(options.ranLogPath)) {
        std::perror(("printer-sim: " + options.ranLogPath).c_str());
        return 1;
    }
    std::string error;
    const std::unique_ptr<TtyLine> line = options.linkPath.empty()
        ? TtyLine::OpenDevice(options.devicePath, error)
        : TtyLine::CreateLink(options.linkPath, error);
    if (!line) {
        std::fprintf(stderr, "printer-sim: %s\n", error.c_str());
        return 1;
    }
    if (!options.linkPath.empty())
        std::fprintf(stderr, "printer-sim: %s -> %s\n", options.linkPath.c_str(), line->DevicePath().c_str());

    LineOutput output(*line, trace, ranLog, options.baud);
    PrinterSim printer(options.printer, output, MonotonicMs());
    std::vector<pollfd> fds;
    std::vector<std::uint8_t> received;
    for (;;) {
        printer.Advance(MonotonicMs());
        output.Release(MonotonicUs());
        const std::int64_t nowUs = MonotonicUs();
        std::int64_t now = nowUs / 1000;
        fds.clear();
        fds.push_back({stop.Get(), POLLIN, 0});
        line->AddPollFds(fds, now);
        const auto deadlineMs = Earliest(printer.NextDeadline(), line->Deadline());
        const auto timeout = PollTimeout(Earliest(InUs(deadlineMs), output.NextDueUs()), nowUs);
        if (ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr) < 0 && errno != EINTR) {
            std::perror("printer-sim: poll");
            return 1;
        }
        if (fds[0].revents & POLLIN)
            return 0;
        now = MonotonicMs();
        received.clear();
        line->Service(fds, now, received);
        if (!received.empty() && options.lineSpeed > 0 && line->ClientSpeed() != options.lineSpeed) {
            trace.Write("RX GARBLED " + std::to_string(received.size()) + " bytes at " +
                        std::to_string(line->ClientSpeed()) + " baud, the printer is set to " +
                        std::to_string(options.lineSpeed));
            received.clear();
        }
        if (!received.empty())
            printer.Receive(received, now);
    }
}

}  // namespace
}  // namespace quillon::sim

int main(int argc, char** argv)
{
    using namespace quillon::sim;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseCommandLine(args, error);
    if (!options) {
        std::fprintf(stderr, "printer-sim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Run(*options);
}
