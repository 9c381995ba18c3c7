#include "devtools/quillon-remote/win32/dialog_remote.h"

#include <thread>

#include "common/win/text.h"

namespace quillon::remote {
namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kSendTimeoutMs = 5000;

DWORD ProcessOf(HWND window)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    return pid;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND FindTopLevel(const std::function<bool(HWND)>& matches)
{
    for (HWND window : TopLevelWindows())
        if (::IsWindowVisible(window) && matches(window))
            return window;
    return nullptr;
}

bool IsControlDialog(HWND window) { return ::GetDlgItem(window, kOperationList) != nullptr; }

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::wstring TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &copied);
    text.resize(copied);
    return text;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::string Utf8(const std::wstring& text) { return lorvane::win::CodePageFromWide(text, CP_UTF8); }

HWND FindDialog(DWORD pid)
{
    return FindTopLevel([pid](HWND w) { return ProcessOf(w) == pid && IsControlDialog(w); });
}

HWND FindMessageBox(DWORD pid)
{
    return FindTopLevel([pid](HWND w) {
        return ProcessOf(w) == pid && ClassOf(w) == L"#32770" && ::GetDlgItem(w, kMessageBoxText);
    });
}

HWND FindWindowTitled(DWORD pid, const std::wstring& title)
{
    return FindTopLevel([&](HWND w) { return ProcessOf(w) == pid && TextOf(w) == title; });
}

HWND FindAnyDialog()
{
    return FindTopLevel([](HWND w) { return IsControlDialog(w) && TextOf(w) == kDialogTitle; });
}

void ClickButton(HWND button)
{
    ::PostMessageW(::GetParent(button), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
}

IconColour IconColourOf(HWND box)
{
    HWND icon = nullptr;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            icon = child;
    if (!icon)
        return IconColour::Unknown;
    RECT rect{};
    ::GetWindowRect(icon, &rect);
    HDC screen = ::GetDC(nullptr);
    int red = 0, blue = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) {
            const COLORREF c = ::GetPixel(screen, x, y);
            const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            red += r > 150 && g < 110 && b < 110;
            blue += b > 150 && r < 110;
        }
    ::ReleaseDC(nullptr, screen);
    if (red > 20 && red > blue)
        return IconColour::Red;
    if (blue > 20 && blue > red)
        return IconColour::Blue;
    return IconColour::Unknown;
}

QuillonProcess::~QuillonProcess()
{
    if (m_process && ::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT)
        ::TerminateProcess(m_process.Get(), 99);
}

bool QuillonProcess::Start()
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    std::wstring command = L"\"" + m_exe + L"\"";
    if (!::CreateProcessW(m_exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &started))
        return false;
    lorvane::win::UniqueHandle thread(started.hThread);
    m_process.Reset(started.hProcess);
    m_pid = started.dwProcessId;
    return true;
}

HWND QuillonProcess::WaitForDialog()
{
    WaitFor([&] { return (m_dialog = FindDialog(m_pid)) != nullptr; });
    return m_dialog;
}

HWND QuillonProcess::WaitForMessageBox() const
{
    HWND box = nullptr;
    WaitFor([&] { return (box = FindMessageBox(m_pid)) != nullptr; });
    return box;
}

bool QuillonProcess::WaitForExit(DWORD& code, std::chrono::milliseconds limit) const
{
    if (::WaitForSingleObject(m_process.Get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
        return false;
    return ::GetExitCodeProcess(m_process.Get(), &code) != FALSE;
}

int QuillonProcess::Selection(int listId) const { return static_cast<int>(Send(Item(listId), CB_GETCURSEL)); }

void QuillonProcess::SetItemText(int id, const std::wstring& text) const
{
    Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void QuillonProcess::Pick(int listId, int index) const
{
    Send(Item(listId), CB_SETCURSEL, static_cast<WPARAM>(index));
    ::PostMessageW(m_dialog, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(listId)));
}

void QuillonProcess::PickAndWait(int listId, int index) const
{
    Send(Item(listId), CB_SETCURSEL, static_cast<WPARAM>(index));
    Send(m_dialog, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(listId)));
}

void QuillonProcess::PressKey(UINT key) const
{
    HWND target = FocusedControl();
    if (!target)
        target = m_dialog;
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

HWND QuillonProcess::FocusedControl() const
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(m_dialog, nullptr), &info);
    return info.hwndFocus;
}

bool WaitUntilVisible(std::chrono::milliseconds limit)
{
    return WaitFor([] { return ::FindWindowW(nullptr, kDialogTitle) != nullptr; }, limit);
}

void CloseDialogs()
{
    for (HWND window : TopLevelWindows())
        if (IsControlDialog(window) && TextOf(window) == kDialogTitle)
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
}

std::optional<RECT> SendFirstOperation(std::chrono::milliseconds limit)
{
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindAnyDialog()) != nullptr; }, limit))
        return std::nullopt;
    ClickButton(::GetDlgItem(dialog, IDOK));
    WaitFor([&] { return !TextOf(::GetDlgItem(dialog, kOutput)).empty(); }, std::chrono::seconds(3));
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rect{};
    ::GetWindowRect(dialog, &rect);
    return rect;
}

std::vector<double> StartupTimes(const std::wstring& exe, int runs)
{
    std::vector<double> times;
    for (int run = 0; run <= runs; ++run) {
        QuillonProcess quillon(exe);
        const auto start = Clock::now();
        if (!quillon.Start() || !quillon.WaitForDialog())
            return {};
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (run > 0)
            times.push_back(ms);
        quillon.Click(IDCANCEL);
        DWORD code = 0;
        quillon.WaitForExit(code);
    }
    return times;
}

std::span<const std::uint8_t> ResourceBytes(HMODULE module, const wchar_t* type, int id)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    const void* data = found ? ::LockResource(::LoadResource(module, found)) : nullptr;
    if (!data)
        return {};
    return {static_cast<const std::uint8_t*>(data), ::SizeofResource(module, found)};
}

}  // namespace quillon::remote
