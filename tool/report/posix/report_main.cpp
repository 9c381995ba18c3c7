// quillon-report on Linux: termios port, UTF-8 on standard output and error.
#include <time.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "tool/report/posix/termios_line.h"
#include "tool/report/report_program.h"

namespace {

using quillon::report::OpenStatus;
using quillon::report::SerialLine;

void WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
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
    std::string_view PortHelp() const override { return "a tty device, e.g. /dev/ttyS0 or /dev/ttyUSB0"; }
    std::unique_ptr<SerialLine> OpenLine(const std::string& port, OpenStatus& status) override
    {
        return quillon::report::OpenTermiosLine(port, status);
    }
    void WriteOut(std::string_view text) override { WriteAll(STDOUT_FILENO, text); }
    void WriteErr(std::string_view text) override { WriteAll(STDERR_FILENO, text); }
};

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    PosixPlatform platform;
    return static_cast<int>(quillon::report::RunReportProgram(args, platform));
}
