#include "server/object/win32/win32_desktop.h"

#include <windows.h>
#include <shellapi.h>

#include "common/win/text.h"

namespace orbalin {
namespace {

HWND ToHwnd(WindowId window) { return reinterpret_cast<HWND>(window); }

// Holds the longest profile value the server accepts (254 characters).
constexpr DWORD kProfileBufferSize = 255;

// SendMessage with a limit: false when the window's thread let the limit
// pass or is hung (then it returns at once). A failure on a window that has
// gone counts as answered, as SetWindowTextA and SendMessageA treated it.
bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::uint32_t limitMs)
{
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, limitMs, &result) != 0)
        return true;
    return !::IsWindow(window);
}

}  // namespace

WindowId Win32Desktop::FindTopLevel(std::string_view className, std::string_view title)
{
    const std::string classText(className);
    const std::string titleText(title);
    return reinterpret_cast<WindowId>(::FindWindowA(classText.c_str(), titleText.c_str()));
}

bool Win32Desktop::SetTitle(WindowId window, std::string_view text, std::uint32_t limitMs)
{
    // WM_SETTEXT is what SetWindowTextA sends to another program's window.
    const std::string title(text);
    return SendWithin(ToHwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()), limitMs);
}

bool Win32Desktop::SendKeyDown(WindowId window, unsigned virtualKey, std::uint32_t limitMs)
{
    return SendWithin(ToHwnd(window), WM_KEYDOWN, virtualKey, 0, limitMs);
}

void Win32Desktop::Open(std::string_view path)
{
    // The result is not examined: a program that fails to start shows up as
    // a main form that never appears.
    ::ShellExecuteA(nullptr, "open", std::string(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string Win32Desktop::ReadProfileString(std::string_view section, std::string_view key)
{
    char buffer[kProfileBufferSize] = {};
    const DWORD length = ::GetProfileStringA(std::string(section).c_str(), std::string(key).c_str(), "", buffer,
                                             kProfileBufferSize);
    return std::string(buffer, length);
}

std::uint64_t Win32Desktop::Now() { return ::GetTickCount64(); }

void Win32Desktop::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void Win32Desktop::ShowMessage(std::string_view text1251, std::string_view caption)
{
    // The W function with an explicit 1251 conversion shows the Cyrillic
    // text correctly whatever the system code page is.
    const std::wstring text = lorvane::win::WideFrom1251(text1251);
    const std::wstring title = lorvane::win::WideFrom1251(caption);
    ::MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
}

}  // namespace orbalin
