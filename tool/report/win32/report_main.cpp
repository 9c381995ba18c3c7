// quillon-report.exe: a console program. Text goes to the console through the
// wide console API, and as UTF-8 bytes when the stream is redirected. Ctrl+C,
// Ctrl+Break and closing the console end a run cleanly.
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "common/win/text.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_memory.h"
#include "tool/report/com_port_name.h"
#include "tool/report/report_program.h"
#include "tool/report/win32/com_port_list.h"
#include "tool/report/win32/comm_line.h"

namespace {

using lorvane::win::SystemErrorText;
using lorvane::win::UniqueHandle;
using quillon::report::ExitCode;
using quillon::report::OpenResult;
using quillon::report::SerialLine;

// The console's control handler runs on a thread of its own and can reach
// nothing else: it sets the code, wakes a pause, and for a closing console
// waits until the run has released the port, as the process ends when the
// handler returns.
std::atomic<int> g_stopCode{0};
std::atomic<int> g_stopCount{0};
HANDLE g_stopEvent = nullptr;
HANDLE g_runEnded = nullptr;
constexpr DWORD kCloseGraceMs = 4000;   // Windows ends the process after about 5 s

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    int none = 0;
    g_stopCode.compare_exchange_strong(none, static_cast<int>(interrupt ? ExitCode::Interrupted : ExitCode::Terminated));
    ++g_stopCount;
    ::SetEvent(g_stopEvent);
    if (!interrupt)
        ::WaitForSingleObject(g_runEnded, kCloseGraceMs);
    return TRUE;
}

std::wstring Wide(std::string_view utf8)
{
    return lorvane::win::WideFromCodePage(utf8, CP_UTF8);
}

bool WriteText(DWORD stream, std::string_view utf8, std::string& why)
{
    const HANDLE handle = ::GetStdHandle(stream);
    if (utf8.empty())
        return true;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        why = "no standard output";
        return false;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Wide(utf8);
        if (::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
            return true;
    } else if (::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) &&
               written == utf8.size()) {
        return true;
    }
    why = SystemErrorText(::GetLastError());
    return false;
}

// Opens the file itself, never what a link or junction in its place points
// at: in a folder that others may write to, a planted link would make the
// run write to a file of its choosing. Empty with why set on failure.
UniqueHandle OpenFileNotThroughLinks(const std::string& path, DWORD access, DWORD disposition, std::string& why)
{
    UniqueHandle file(::CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        why = SystemErrorText(::GetLastError());
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.Get(), &info)) {
        why = SystemErrorText(::GetLastError());
        return {};
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = "a link (reparse point), which the log is never written through";
        return {};
    }
    return file;
}

bool WriteWhole(HANDLE file, std::string_view text, std::string& why)
{
    DWORD written = 0;
    if (text.empty() || (::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                         written == text.size()))
        return true;
    why = SystemErrorText(::GetLastError());
    return false;
}

class Win32Platform final : public quillon::report::ReportPlatform {
public:
    std::int64_t NowMs() override { return static_cast<std::int64_t>(::GetTickCount64()); }

    std::string DefaultPort() const override { return "COM1"; }
    std::string_view PortHelp() const override
    {
        static_assert(quillon::report::kHighestComPort == 256, "the help names the highest port");
        return "COM1 to COM256";
    }
    std::unique_ptr<SerialLine> OpenLine(const std::string& port, std::int64_t baud, OpenResult& result) override
    {
        return quillon::report::OpenCommLine(port, baud, result);
    }
    std::vector<quillon::report::SerialPortInfo> ListPorts() override { return quillon::report::ListSerialPorts(); }

    bool WriteOut(std::string_view text, std::string& why) override { return WriteText(STD_OUTPUT_HANDLE, text, why); }
    void WriteErr(std::string_view text) override
    {
        std::string ignored;
        WriteText(STD_ERROR_HANDLE, text, ignored);
    }
    const std::atomic<int>& StopCode() override { return g_stopCode; }
    int StopCount() override { return g_stopCount; }
    void Pause(std::int64_t ms) override { ::WaitForSingleObject(g_stopEvent, static_cast<DWORD>(ms)); }
    std::string LocalTime() override
    {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        char text[32];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                      now.wMinute, now.wSecond);
        return text;
    }

    bool AppendFileText(const std::string& path, std::string_view text, std::string& why) override
    {
        // Append-only access: every write lands at the end as one piece, so
        // lines of runs at the same time never interleave.
        const UniqueHandle file = OpenFileNotThroughLinks(path, FILE_APPEND_DATA, OPEN_ALWAYS, why);
        return file && WriteWhole(file.Get(), text, why);
    }
    int FirstSequence() override
    {
        // Runs on one port do not start where every run starts; the status
        // request makes any start safe, this only spreads them.
        const auto mix = ::GetTickCount64() ^ ::GetCurrentProcessId();
        return static_cast<int>(1 + mix % 223);   // bytes 0x21..0xFF
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    UniqueHandle stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle runEnded(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stopEvent = stopEvent.Get();
    g_runEnded = runEnded.Get();
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    std::vector<std::string> utf8;
    for (int i = 1; i < argc; ++i)
        utf8.push_back(lorvane::win::CodePageFromWide(argv[i], CP_UTF8));
    const std::vector<std::string_view> args(utf8.begin(), utf8.end());
    Win32Platform platform;
    const auto code = quillon::report::RunReportProgram(args, platform);
    ::SetEvent(g_runEnded);
    return static_cast<int>(code);
}
