// quillon-report on Linux: termios port, UTF-8 on standard output and error,
// signals that end a run cleanly.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/posix/write_all.h"
#include "tool/report/posix/termios_line.h"
#include "tool/report/posix/tty_port_list.h"
#include "tool/report/report_program.h"

namespace {

using quillon::report::ExitCode;
using quillon::report::OpenResult;
using quillon::report::SerialLine;

// Set from the signal handler, which can reach nothing else; the run reads
// it between reads of the line and ends, releasing and restoring the port.
std::atomic<int> g_stopCode{0};
std::atomic<int> g_stopCount{0};

void OnStopSignal(int signal)
{
    int none = 0;   // the first stop names the exit code
    g_stopCode.compare_exchange_strong(none, static_cast<int>(signal == SIGINT ? ExitCode::Interrupted : ExitCode::Terminated));
    ++g_stopCount;
}

void InstallSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;   // no SA_RESTART: a wait in poll or nanosleep returns at once
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // A closed pipe is reported by write, as a lost output.
    ::signal(SIGPIPE, SIG_IGN);
}

bool WriteAll(int fd, std::string_view text, std::string& why)
{
    if (lorvane::posix::WriteAll(fd, text.data(), text.size()))
        return true;
    why = errno != 0 ? std::strerror(errno) : "nothing written";
    return false;
}

class PosixPlatform final : public quillon::report::ReportPlatform {
public:
    std::int64_t NowMs() override
    {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    }

    std::string DefaultPort() const override { return "/dev/ttyS0"; }
    std::string_view PortHelp() const override { return "a serial tty, e.g. /dev/ttyS0 or /dev/ttyUSB0"; }
    std::unique_ptr<SerialLine> OpenLine(const std::string& port, std::int64_t baud, OpenResult& result) override
    {
        return quillon::report::OpenTermiosLine(port, baud, result);
    }
    std::vector<quillon::report::SerialPortInfo> ListPorts() override { return quillon::report::ListSerialPorts(); }

    bool WriteOut(std::string_view text, std::string& why) override { return WriteAll(STDOUT_FILENO, text, why); }
    void WriteErr(std::string_view text) override
    {
        std::string ignored;
        WriteAll(STDERR_FILENO, text, ignored);
    }
    const std::atomic<int>& StopCode() override { return g_stopCode; }
    int StopCount() override { return g_stopCount; }
    void Pause(std::int64_t ms) override
    {
        const timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
        ::nanosleep(&pause, nullptr);   // a stop signal cuts it short
    }
    std::string LocalTime() override
    {
        const time_t now = ::time(nullptr);
        tm local{};
        ::localtime_r(&now, &local);
        char text[32];
        ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        return text;
    }

    bool AppendFileText(const std::string& path, std::string_view text, std::string& why) override
    {
        // Not through a symbolic link: in a folder that others may write to,
        // a planted link would make the run append to a file of its choosing.
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            why = errno == ELOOP ? "a symbolic link, which the log is never written through" : std::strerror(errno);
            return false;
        }
        // One write: with O_APPEND the line lands whole after any other's.
        const ssize_t n = text.empty() ? 0 : ::write(fd, text.data(), text.size());
        const int error = errno;
        ::close(fd);
        if (n != static_cast<ssize_t>(text.size())) {
            why = n < 0 ? std::strerror(error) : "the line was cut short";
            return false;
        }
        return true;
    }
    int FirstSequence() override
    {
        // Runs on one port do not start where every run starts; the status
        // request makes any start safe, this only spreads them.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const auto mix = static_cast<unsigned long>(now.tv_nsec) ^ static_cast<unsigned long>(::getpid());
        return static_cast<int>(1 + mix % 223);   // bytes 0x21..0xFF
    }
};

}  // namespace

int main(int argc, char** argv)
{
    InstallSignalHandlers();
    std::vector<std::string_view> args(argv + 1, argv + argc);
    PosixPlatform platform;
    return static_cast<int>(quillon::report::RunReportProgram(args, platform));
}
