// quillon-report.exe: a console program. Text goes to the console through the
// wide console API, and as UTF-8 bytes when the stream is redirected.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/win/text.h"
#include "tool/report/report_program.h"
#include "tool/report/win32/comm_line.h"

namespace {

using quillon::report::OpenStatus;
using quillon::report::SerialLine;

void WriteText(DWORD stream, std::string_view utf8)
{
    const HANDLE handle = ::GetStdHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty())
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = lorvane::win::WideFromCodePage(utf8, CP_UTF8);
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    ::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

class Win32Platform final : public quillon::report::ReportPlatform {
public:
    std::int64_t NowMs() override { return static_cast<std::int64_t>(::GetTickCount64()); }
    std::string DefaultPort() const override { return "COM1"; }
    std::string_view PortHelp() const override { return "COM1 to COM4"; }
    std::unique_ptr<SerialLine> OpenLine(const std::string& port, OpenStatus& status) override
    {
        return quillon::report::OpenCommLine(port, status);
    }
    void WriteOut(std::string_view text) override { WriteText(STD_OUTPUT_HANDLE, text); }
    void WriteErr(std::string_view text) override { WriteText(STD_ERROR_HANDLE, text); }
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> utf8;
    for (int i = 1; i < argc; ++i)
        utf8.push_back(lorvane::win::CodePageFromWide(argv[i], CP_UTF8));
    const std::vector<std::string_view> args(utf8.begin(), utf8.end());
    Win32Platform platform;
    return static_cast<int>(quillon::report::RunReportProgram(args, platform));
}
