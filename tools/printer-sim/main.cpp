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
#include <string>
#include <vector>

#include "command_line.h"
#include "printer.h"
#include "tty_line.h"

namespace quillon::sim {
namespace {

std::int64_t MonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

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

// One write per line, so lines from a tailing reader's view never interleave
// and each is on disk when the next byte goes out.
class TraceWriter {
public:
    bool Open(const std::string& path)
    {
        if (path.empty())
            return true;
        m_file.Reset(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
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
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;   // a lost trace line must not stop the printer
            done += static_cast<std::size_t>(n);
        }
    }

private:
    UniqueFd m_file;
};

class LineOutput : public PrinterOutput {
public:
    LineOutput(TtyLine& line, const TraceWriter& trace) : m_line(line), m_trace(trace) {}
    void Send(std::span<const std::uint8_t> bytes) override { m_line.Send(bytes); }
    void Trace(const std::string& line) override { m_trace.Write(line); }

private:
    TtyLine& m_line;
    const TraceWriter& m_trace;
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

int PollTimeout(std::optional<std::int64_t> deadline, std::int64_t nowMs)
{
    if (!deadline)
        return -1;
    return static_cast<int>(std::clamp<std::int64_t>(*deadline - nowMs, 0, 60'000));
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

    LineOutput output(*line, trace);
    PrinterSim printer(options.printer, output, MonotonicMs());
    std::vector<pollfd> fds;
    std::vector<std::uint8_t> received;
    for (;;) {
        std::int64_t now = MonotonicMs();
        printer.Advance(now);
        fds.clear();
        fds.push_back({stop.Get(), POLLIN, 0});
        line->AddPollFds(fds, now);
        const int timeout = PollTimeout(Earliest(printer.NextDeadline(), line->Deadline()), now);
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            std::perror("printer-sim: poll");
            return 1;
        }
        if (fds[0].revents & POLLIN)
            return 0;
        now = MonotonicMs();
        received.clear();
        line->Service(fds, now, received);
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
