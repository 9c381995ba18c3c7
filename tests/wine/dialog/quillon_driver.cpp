// Works Quillon.exe from outside, as an operator does: finds its windows,
// reads the controls, clicks, types and checks the bytes that reached the
// printer simulator (its trace file). One scenario per run:
//
//   quillon_driver SCENARIO QUILLON_EXE TRACE_COM1 [TRACE_COM3]
//
// Exit code 0 when every check held; each failed check prints one line.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/win/text.h"
#include "tool/dialog/report_operations.h"
#include "tool/link/link_texts.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using lorvane::win::WideFrom1251;
using quillon::ComposeReportRequest;
using quillon::FindRangeDefaults;
using quillon::FindReportOperation;
using quillon::ReportMessage;

constexpr int kPortList = 1000, kOperationList = 1001, kRangeFirst = 1002, kRangeSecond = 1003, kOutput = 1004;
constexpr auto kWindowDeadline = 10s;

// Independent spellings of the window's own texts.
const std::wstring kPortMessage = L"\u041D\u0435 \u0435 \u0432\u044A\u0437\u043C\u043E\u0436\u043D\u043E \u0434\u0430 "
                                  L"\u0441\u0435 \u043E\u0442\u0432\u043E\u0440\u0438 COM";   // "Не е възможно да се отвори COM"
const std::wstring kLatinNoOperation = L"Nqma takawa finkciq!";

int g_failures = 0;

void Check(bool condition, const std::string& what)
{
    if (!condition) {
        ++g_failures;
        std::printf("FAIL: %s\n", what.c_str());
        std::fflush(stdout);
    }
}

std::string Narrow(const std::wstring& text) { return lorvane::win::CodePageFromWide(text, CP_UTF8); }

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = kWindowDeadline)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

std::wstring TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          5000, &copied);
    text.resize(copied);
    return text;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

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

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

// The control dialog: a window of the process with the operation list.
HWND FindDialog(DWORD pid)
{
    for (HWND window : TopLevelWindows())
        if (ProcessOf(window) == pid && ::GetDlgItem(window, kOperationList) && ::IsWindowVisible(window))
            return window;
    return nullptr;
}

// A message box of the process: a dialog with the 0xFFFF text control.
HWND FindMessageBox(DWORD pid)
{
    for (HWND window : TopLevelWindows())
        if (ProcessOf(window) == pid && ClassOf(window) == L"#32770" && ::GetDlgItem(window, 0xFFFF) &&
            ::IsWindowVisible(window))
            return window;
    return nullptr;
}

HWND FindWindowTitled(DWORD pid, const std::wstring& title)
{
    for (HWND window : TopLevelWindows())
        if (ProcessOf(window) == pid && ::IsWindowVisible(window) && TextOf(window) == title)
            return window;
    return nullptr;
}

// A button's click as its parent receives it. (BM_CLICK is not used: under
// Wine it depends on mouse capture and gets lost when the window is not
// active.) Posted, as the click may open a modal box.
void ClickButton(HWND button)
{
    ::PostMessageW(::GetParent(button), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
}

enum class IconColour { Red, Blue, Unknown };

// Tells the error icon (red) from the information icon (blue) by its pixels
// on the screen: the icon handle itself cannot be read across processes.
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

// One line of the simulator's trace for a request it received.
struct TraceRequest {
    int command = -1;
    int sequence = -1;
    std::string data;
};

class Trace {
public:
    explicit Trace(std::wstring path) : m_path(std::move(path)) {}

    std::vector<TraceRequest> Requests() const
    {
        std::vector<TraceRequest> requests;
        std::ifstream file{std::filesystem::path(m_path)};
        std::string line;
        while (std::getline(file, line)) {
            if (line.find(" RX ") == std::string::npos || line.find("cmd=") == std::string::npos)
                continue;
            TraceRequest request;
            request.command = std::atoi(line.c_str() + line.find("cmd=") + 4);
            request.sequence = static_cast<int>(std::strtol(line.c_str() + line.find("seq=0x") + 6, nullptr, 16));
            const auto open = line.find("data=\"");
            const auto close = line.rfind("\" checksum");
            if (open != std::string::npos && close != std::string::npos && close >= open + 6)
                request.data = line.substr(open + 6, close - open - 6);
            requests.push_back(request);
        }
        return requests;
    }

    // Waits for the next request after count and returns it.
    bool WaitForRequest(std::size_t count, TraceRequest& request) const
    {
        std::vector<TraceRequest> requests;
        if (!WaitFor([&] { return (requests = Requests()).size() > count; }))
            return false;
        request = requests[count];
        return true;
    }

private:
    std::wstring m_path;
};

class Quillon {
public:
    explicit Quillon(const std::wstring& exe) : m_exe(exe) {}
    ~Quillon()
    {
        if (m_process.hProcess) {
            if (::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(m_process.hProcess, 99);
            ::CloseHandle(m_process.hProcess);
            ::CloseHandle(m_process.hThread);
        }
    }

    bool Start()
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring command = L"\"" + m_exe + L"\"";
        return ::CreateProcessW(m_exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &m_process);
    }

    DWORD Pid() const { return m_process.dwProcessId; }

    HWND WaitForDialog()
    {
        WaitFor([&] { return (m_dialog = FindDialog(Pid())) != nullptr; });
        return m_dialog;
    }

    HWND WaitForMessageBox()
    {
        HWND box = nullptr;
        WaitFor([&] { return (box = FindMessageBox(Pid())) != nullptr; });
        return box;
    }

    bool WaitForExit(DWORD& code, std::chrono::milliseconds limit = kWindowDeadline)
    {
        if (::WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
            return false;
        ::GetExitCodeProcess(m_process.hProcess, &code);
        return true;
    }

    HWND Dialog() const { return m_dialog; }
    HWND Item(int id) const { return ::GetDlgItem(m_dialog, id); }
    std::wstring ItemText(int id) const { return TextOf(Item(id)); }
    int Selection(int id) const { return static_cast<int>(Send(Item(id), CB_GETCURSEL)); }

    void SetItemText(int id, const std::wstring& text) const
    {
        Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    // A selection change as the list reports it when the operator picks an
    // item. Posted: the dialog may answer it with a modal box.
    void Pick(int listId, int index) const
    {
        Send(Item(listId), CB_SETCURSEL, static_cast<WPARAM>(index));
        ::PostMessageW(m_dialog, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(listId)));
    }

    // Like Pick, and returns once the dialog has handled it.
    void PickAndWait(int listId, int index) const
    {
        Send(Item(listId), CB_SETCURSEL, static_cast<WPARAM>(index));
        Send(m_dialog, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(listId)));
    }

    void Click(int id) const { ClickButton(Item(id)); }

    void PressKey(UINT key) const
    {
        HWND focus = FocusedControl();
        ::PostMessageW(focus ? focus : m_dialog, WM_KEYDOWN, key, 1);
        ::PostMessageW(focus ? focus : m_dialog, WM_KEYUP, key, 0xC0000001);
    }

    HWND FocusedControl() const
    {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(m_dialog, nullptr), &info);
        return info.hwndFocus;
    }

private:
    std::wstring m_exe;
    PROCESS_INFORMATION m_process{};
    HWND m_dialog = nullptr;
};

// Checks one message box and closes it with its OK button; whileOpen runs
// before the box is closed.
void ExpectMessageBox(Quillon& quillon, const std::wstring& text, const std::wstring& caption, IconColour icon,
                      const std::string& what, const std::function<void()>& whileOpen = {})
{
    HWND box = quillon.WaitForMessageBox();
    Check(box != nullptr, what + ": a message box appears");
    if (!box)
        return;
    Check(TextOf(::GetDlgItem(box, 0xFFFF)) == text, what + ": text, got \"" + Narrow(TextOf(::GetDlgItem(box, 0xFFFF))) + "\"");
    Check(TextOf(box) == caption, what + ": caption, got \"" + Narrow(TextOf(box)) + "\"");
    Check(IconColourOf(box) == icon, what + ": icon");
    Check(::GetDlgItem(box, IDCANCEL) == nullptr || !::IsWindowVisible(::GetDlgItem(box, IDCANCEL)) ||
              TextOf(::GetDlgItem(box, IDOK)) == L"OK",
          what + ": one OK button");
    if (whileOpen)
        whileOpen();
    ClickButton(::GetDlgItem(box, IDOK));
    Check(WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }), what + ": the box closes");
}

// A port that leads nowhere may first fail a later step of the opening
// (Wine opens a dangling port link and then cannot read its state); the
// link tells that in its own words before the dialog's port message.
void ExpectPortMessage(Quillon& quillon, const std::string& what)
{
    for (int inner = 0; inner < 3; ++inner) {
        HWND box = quillon.WaitForMessageBox();
        if (!box || TextOf(::GetDlgItem(box, 0xFFFF)) == kPortMessage)
            break;
        std::printf("%s: the link says first \"%s\"\n", what.c_str(), Narrow(TextOf(::GetDlgItem(box, 0xFFFF))).c_str());
        ClickButton(::GetDlgItem(box, IDOK));
        WaitFor([&] { return !::IsWindow(box); });
    }
    ExpectMessageBox(quillon, kPortMessage, L"Lorvane Kelmora", IconColour::Blue, what);
}

void ExpectMessage(Quillon& quillon, const ReportMessage& message, const std::string& what,
                   const std::function<void()>& whileOpen = {})
{
    ExpectMessageBox(quillon, WideFrom1251(message.text), WideFrom1251(message.caption),
                     message.icon == quillon::MessageIcon::Error ? IconColour::Red : IconColour::Blue, what, whileOpen);
}

ReportMessage MessageFor(int index, const char* first, const char* second)
{
    return std::get<ReportMessage>(ComposeReportRequest(index, first, second));
}

void ExpectExit(Quillon& quillon, const std::string& what)
{
    DWORD code = 1234;
    Check(quillon.WaitForExit(code), what + ": the program ends");
    Check(code == 0, what + ": exit code 0, got " + std::to_string(code));
}

bool StartDialog(Quillon& quillon)
{
    Check(quillon.Start(), "Quillon.exe starts");
    Check(quillon.WaitForDialog() != nullptr, "the dialog appears");
    return quillon.Dialog() != nullptr;
}

// Sends the chosen operation with OK and checks the request at the simulator
// and the answer in the output field.
void ExpectSent(Quillon& quillon, const Trace& trace, int index, int sequence, const std::string& data,
                std::string_view answer, const std::string& what)
{
    // Emptied first: two operations may have the same answer text, and the
    // next send must wait for this answer (the link is busy until then).
    quillon.SetItemText(kOutput, L"");
    const auto before = trace.Requests().size();
    quillon.Click(IDOK);
    TraceRequest request;
    Check(trace.WaitForRequest(before, request), what + ": the printer gets a request");
    Check(request.command == FindReportOperation(index)->command,
          what + ": command " + std::to_string(request.command));
    Check(request.sequence == sequence, what + ": sequence byte " + std::to_string(request.sequence));
    Check(request.data == data, what + ": data \"" + request.data + "\"");
    const std::wstring expected = WideFrom1251(answer);
    Check(WaitFor([&] { return quillon.ItemText(kOutput) == expected; }), what + ": the answer is shown");
}

// ---- scenarios ----

void StartState(const std::wstring& exe)
{
    Quillon quillon(exe);
    if (!StartDialog(quillon))
        return;
    Check(TextOf(quillon.Dialog()) == L"Lorvane Kelmora", "title");
    Check(Send(quillon.Item(kPortList), CB_GETCOUNT) == 4, "four ports");
    for (int i = 0; i < 4; ++i) {
        wchar_t item[16] = {};
        Send(quillon.Item(kPortList), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        Check(item == L"COM" + std::to_wstring(i + 1), "port item " + std::to_string(i));
    }
    Check(quillon.Selection(kPortList) == 0 && quillon.ItemText(kPortList) == L"COM1", "COM1 selected");
    Check(Send(quillon.Item(kOperationList), CB_GETCOUNT) == 11, "eleven operations");
    for (int i = 0; i < 11; ++i) {
        wchar_t item[128] = {};
        Send(quillon.Item(kOperationList), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        const std::string bytes = lorvane::win::CodePageFromWide(item, 1251);
        Check(bytes == FindReportOperation(i)->listText, "operation item " + std::to_string(i) + " byte for byte");
    }
    Check(quillon.Selection(kOperationList) == 0, "first operation selected");
    Check(::IsWindowVisible(quillon.Item(kRangeFirst)) && ::IsWindowVisible(quillon.Item(kRangeSecond)),
          "both range fields visible");
    Check(quillon.ItemText(kRangeFirst) == L"020402" && quillon.ItemText(kRangeSecond) == L"020403", "date defaults");
    Check(quillon.FocusedControl() == quillon.Item(kRangeFirst), "focus in the first range field");
    Check(quillon.ItemText(kOutput).empty(), "output field empty");

    // A second start ends at once and shows nothing.
    Quillon second(exe);
    Check(second.Start(), "second start");
    ExpectExit(second, "second start");
    Check(FindDialog(second.Pid()) == nullptr && FindMessageBox(second.Pid()) == nullptr, "second start shows nothing");

    // The About entry of the system menu.
    ::PostMessageW(quillon.Dialog(), WM_SYSCOMMAND, 0x10, 0);
    HWND about = nullptr;
    Check(WaitFor([&] { return (about = FindWindowTitled(quillon.Pid(), L"About Lorvane Kelmora")) != nullptr; }),
          "the About box opens");
    if (about) {
        bool versionText = false;
        for (HWND child = ::GetWindow(about, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            versionText = versionText || TextOf(child) == L"Lorvane Kelmora Version 1.00.002";
        Check(versionText, "About box version line");
        Check(::GetWindow(about, GW_OWNER) == quillon.Dialog(), "About box owned by the dialog");
        ClickButton(::GetDlgItem(about, IDOK));
        Check(WaitFor([&] { return !::IsWindow(about); }), "OK closes the About box");
    }

    // Escape ends the program.
    ::SetForegroundWindow(quillon.Dialog());
    quillon.PressKey(VK_ESCAPE);
    ExpectExit(quillon, "Escape");
}

void Operations(const std::wstring& exe, const Trace& trace)
{
    Quillon quillon(exe);
    if (!StartDialog(quillon))
        return;
    const std::string_view answers[11] = {
        quillon::texts::kAnswer50, quillon::texts::kAnswer69, quillon::texts::kAnswer69, quillon::texts::kAnswer69,
        quillon::texts::kAnswer69, quillon::texts::kAnswer73, quillon::texts::kAnswer94, quillon::texts::kAnswer108,
        quillon::texts::kAnswer108, quillon::texts::kAnswer79, quillon::texts::kAnswer95,
    };
    int sequence = 0x21;
    for (int index = 0; index < 11; ++index) {
        const std::string what = "operation " + std::to_string(index);
        // What the operator typed is replaced on every switch to a range operation.
        quillon.SetItemText(kRangeFirst, L"111");
        quillon.SetItemText(kRangeSecond, L"222");
        quillon.PickAndWait(kOperationList, index);
        const quillon::RangeDefaults* range = FindRangeDefaults(index);
        const bool visible = ::IsWindowVisible(quillon.Item(kRangeFirst)) && ::IsWindowVisible(quillon.Item(kRangeSecond));
        std::string data(FindReportOperation(index)->dataText);
        if (range) {
            Check(visible, what + ": range fields shown");
            Check(quillon.ItemText(kRangeFirst) == WideFrom1251(range->firstText) &&
                      quillon.ItemText(kRangeSecond) == WideFrom1251(range->secondText),
                  what + ": range defaults");
            Check(quillon.FocusedControl() == quillon.Item(kRangeFirst), what + ": focus in the first field");
            data = std::string(range->firstText) + "," + std::string(range->secondText);
        } else {
            Check(!::IsWindowVisible(quillon.Item(kRangeFirst)) && !::IsWindowVisible(quillon.Item(kRangeSecond)),
                  what + ": range fields hidden");
            Check(quillon.ItemText(kRangeFirst) == L"111", what + ": hidden fields keep their text");
        }
        if (index == 4) {
            ::SetForegroundWindow(quillon.Dialog());
            quillon.SetItemText(kOutput, L"");
            const auto before = trace.Requests().size();
            quillon.PressKey(VK_RETURN);   // Enter is OK
            TraceRequest request;
            Check(trace.WaitForRequest(before, request) && request.command == 69 && request.data == "4",
                  "Enter sends the operation");
            Check(WaitFor([&] { return quillon.ItemText(kOutput) == WideFrom1251(answers[index]); }), "Enter: answer");
        } else {
            ExpectSent(quillon, trace, index, sequence, data, answers[index], what);
        }
        ++sequence;
    }
    // Also from one date operation to another the fields are reset.
    quillon.PickAndWait(kOperationList, 0);
    quillon.SetItemText(kRangeFirst, L"311299");
    quillon.PickAndWait(kOperationList, 6);
    Check(quillon.ItemText(kRangeFirst) == L"020402", "date to date: defaults again");
    // Number defaults, labelled and typed.
    quillon.PickAndWait(kOperationList, 5);
    quillon.SetItemText(kRangeFirst, L"00001");
    quillon.SetItemText(kRangeSecond, L"020");
    ExpectSent(quillon, trace, 5, sequence, "00001,020", quillon::texts::kAnswer73, "numbers 5 + 3 digits");
    Check(::IsWindow(quillon.Dialog()), "the dialog stays open after sending");

    quillon.Click(IDCANCEL);   // Exit
    ExpectExit(quillon, "Exit");
}

void WrongLength(const std::wstring& exe, const Trace& trace)
{
    Quillon quillon(exe);
    if (!StartDialog(quillon))
        return;
    quillon.SetItemText(kRangeFirst, L"02040");
    quillon.Click(IDOK);
    ExpectMessage(quillon, MessageFor(0, "", ""), "date message");
    Check(quillon.ItemText(kRangeFirst) == L"02040", "date message: the field keeps its text");

    quillon.PickAndWait(kOperationList, 5);
    quillon.SetItemText(kRangeFirst, L"1");
    quillon.SetItemText(kRangeSecond, L"20");
    quillon.Click(IDOK);
    ExpectMessage(quillon, MessageFor(5, "", ""), "first number message");

    quillon.PickAndWait(kOperationList, 10);
    quillon.SetItemText(kRangeFirst, L"1");
    quillon.SetItemText(kRangeSecond, L"20");
    quillon.Click(IDOK);
    ExpectMessage(quillon, MessageFor(10, "", ""), "second number message");

    // No selection: the list reports -1.
    quillon.Pick(kOperationList, -1);
    ExpectMessageBox(quillon, kLatinNoOperation, L"Lorvane Kelmora: Error", IconColour::Red, "unknown operation (list)");
    quillon.Click(IDOK);
    ExpectMessage(quillon, quillon::kNoOperationMessage, "unknown operation (OK)");

    // Nothing went out: the first request the printer sees is this one.
    quillon.PickAndWait(kOperationList, 1);
    ExpectSent(quillon, trace, 1, 0x21, "1", quillon::texts::kAnswer69, "after the messages");
    Check(trace.Requests().size() == 1, "only one request reached the printer");

    ::PostMessageW(quillon.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);   // the close box
    ExpectExit(quillon, "close box");
}

// secondOkAfter: with a paced answer, the second OK comes while its bytes arrive.
void Busy(const std::wstring& exe, const Trace& trace, std::chrono::milliseconds secondOkAfter = 0ms)
{
    Quillon quillon(exe);
    if (!StartDialog(quillon))
        return;
    quillon.PickAndWait(kOperationList, 2);
    quillon.Click(IDOK);
    std::this_thread::sleep_for(secondOkAfter);
    quillon.Click(IDOK);   // before the (slow) answer is complete
    // The late answer comes from the receiver thread while the busy box is
    // open on the window's thread: it is shown all the same, box still open.
    ExpectMessage(quillon, quillon::kBusyMessage, "busy message", [&] {
        Check(WaitFor([&] { return quillon.ItemText(kOutput) == WideFrom1251(quillon::texts::kAnswer69); }),
              "busy: the late answer is shown while the box is open");
    });
    Check(trace.Requests().size() == 1, "busy: one request only");
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

void PortSwitch(const std::wstring& exe, const Trace& com1, const Trace& com3)
{
    Quillon quillon(exe);
    if (!StartDialog(quillon))
        return;
    quillon.PickAndWait(kOperationList, 1);
    ExpectSent(quillon, com1, 1, 0x21, "1", quillon::texts::kAnswer69, "COM1 first");
    quillon.PickAndWait(kOperationList, 2);
    ExpectSent(quillon, com1, 2, 0x22, "2", quillon::texts::kAnswer69, "COM1 second");

    quillon.Pick(kPortList, 1);   // COM2 leads nowhere
    ExpectPortMessage(quillon, "COM2 cannot be opened");
    quillon.Pick(kPortList, 2);
    Check(WaitFor([&] { return quillon.Selection(kPortList) == 2 && FindMessageBox(quillon.Pid()) == nullptr; }),
          "COM3 chosen without a message");
    quillon.SetItemText(kOutput, L"");
    Check(quillon.Selection(kOperationList) == 2, "the operation stays");
    ExpectSent(quillon, com3, 2, 0x21, "2", quillon::texts::kAnswer69, "COM3: a new connection");
    Check(com1.Requests().size() == 2, "nothing more on COM1");
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

void NoPort(const std::wstring& exe)
{
    Quillon quillon(exe);
    Check(quillon.Start(), "Quillon.exe starts");
    HWND box = quillon.WaitForMessageBox();
    Check(box != nullptr, "port message at start");
    Check(FindDialog(quillon.Pid()) == nullptr, "the port message comes before the dialog");
    ExpectPortMessage(quillon, "port message");
    Check(quillon.WaitForDialog() != nullptr, "the dialog opens after the port message");
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

void OutputTimer(const std::wstring& exe, const Trace& trace)
{
    Quillon quillon(exe);
    if (!StartDialog(quillon))
        return;
    quillon.PickAndWait(kOperationList, 1);
    ExpectSent(quillon, trace, 1, 0x21, "1", quillon::texts::kAnswer69, "first answer");
    const auto first = Clock::now();
    std::this_thread::sleep_for(3s);   // the second answer comes 3 s after the first
    quillon.PickAndWait(kOperationList, 7);
    ExpectSent(quillon, trace, 7, 0x22, "0", quillon::texts::kAnswer108, "second answer");
    const auto second = Clock::now();
    const std::wstring shown = WideFrom1251(quillon::texts::kAnswer108);
    // 5.5 s after the first answer the second one still stands...
    std::this_thread::sleep_until(first + 5500ms);
    Check(quillon.ItemText(kOutput) == shown, "the second answer restarts the 5 s");
    // ...and goes about 5 s after its own arrival.
    Check(WaitFor([&] { return quillon.ItemText(kOutput).empty(); }, 5s), "the output field is emptied");
    const auto cleared = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - second).count();
    std::printf("output emptied %lld ms after the second answer\n", static_cast<long long>(cleared));
    Check(cleared >= 4500 && cleared <= 6500, "emptied 5 s after the last answer");
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

// The fonts the dialog draws with have the Cyrillic glyphs (a missing glyph
// draws a bar, which a text check cannot see).
void Glyphs()
{
    const std::wstring cyrillic = WideFrom1251(FindReportOperation(0)->listText) + L"\u0424\u041E\u0434\u043C\u0433";
    HDC dc = ::GetDC(nullptr);
    auto missing = [&](HFONT font) {
        HGDIOBJ previous = ::SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        ::GetTextFaceW(dc, LF_FACESIZE, face);
        std::printf("font in use: %s\n", Narrow(face).c_str());
        std::vector<WORD> indices(cyrillic.size());
        ::GetGlyphIndicesW(dc, cyrillic.c_str(), static_cast<int>(cyrillic.size()), indices.data(),
                           GGI_MARK_NONEXISTING_GLYPHS);
        ::SelectObject(dc, previous);
        return std::count(indices.begin(), indices.end(), WORD{0xFFFF});
    };
    const int height = -::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
    HFONT dialogFont = ::CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
    Check(missing(dialogFont) == 0, "MS Sans Serif 8 has the Cyrillic glyphs");
    Check(missing(static_cast<HFONT>(::GetStockObject(SYSTEM_FONT))) == 0, "the paint context's font has them");
    ::DeleteObject(dialogFont);
    ::ReleaseDC(nullptr, dc);
}

// ---- resources, read from the program file ----

struct TemplateItem {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring windowClass;   // name, or "#n" for an atom
    std::wstring text;          // text, or "#n" for a resource number
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;
    std::wstring title;
    WORD pointSize = 0;
    std::wstring face;
    std::vector<TemplateItem> items;
};

// Reads DLGTEMPLATE and DLGTEMPLATEEX alike.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : m_base(data), m_at(data) {}
    template <typename T> T Read()
    {
        T value{};
        std::memcpy(&value, m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }
    std::wstring NameOrNumber()
    {
        const WORD first = Read<WORD>();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Read<WORD>());
        std::wstring text;
        for (WORD c = first; c != 0; c = Read<WORD>())
            text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    void AlignDword() { m_at = m_base + ((m_at - m_base + 3) & ~3); }
    void Skip(std::size_t bytes) { m_at += bytes; }

private:
    const BYTE* m_base;
    const BYTE* m_at;
};

DialogTemplate ReadTemplate(const BYTE* data)
{
    TemplateReader in(data);
    DialogTemplate dialog;
    const bool extended = reinterpret_cast<const WORD*>(data)[1] == 0xFFFF;
    WORD count = 0;
    if (extended) {
        in.Skip(8);   // version, signature, help id
        dialog.exStyle = in.Read<DWORD>();
        dialog.style = in.Read<DWORD>();
    } else {
        dialog.style = in.Read<DWORD>();
        dialog.exStyle = in.Read<DWORD>();
    }
    count = in.Read<WORD>();
    in.Skip(4);   // x, y
    dialog.cx = in.Read<short>();
    dialog.cy = in.Read<short>();
    in.NameOrNumber();   // menu
    in.NameOrNumber();   // class
    dialog.title = in.NameOrNumber();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.Read<WORD>();
        if (extended)
            in.Skip(4);   // weight, italic, character set
        dialog.face = in.NameOrNumber();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        TemplateItem item;
        if (extended) {
            in.Skip(8);   // help id, extended style
            item.style = in.Read<DWORD>();
        } else {
            item.style = in.Read<DWORD>();
            in.Skip(4);
        }
        item.x = in.Read<short>();
        item.y = in.Read<short>();
        item.cx = in.Read<short>();
        item.cy = in.Read<short>();
        item.id = extended ? in.Read<DWORD>() : in.Read<WORD>();
        item.windowClass = in.NameOrNumber();
        item.text = in.NameOrNumber();
        in.Skip(in.Read<WORD>());   // creation data
        dialog.items.push_back(item);
    }
    return dialog;
}

const BYTE* ResourceData(HMODULE module, const wchar_t* type, int id)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    return found ? static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))) : nullptr;
}

void Resources(const std::wstring& exe)
{
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    Check(module != nullptr, "Quillon.exe loads as resources");
    if (!module)
        return;
    wchar_t about[32] = {};
    ::LoadStringW(module, 101, about, 32);
    Check(std::wstring(about) == L"&About", "string 101");

    const auto* banner = reinterpret_cast<const BITMAPINFOHEADER*>(ResourceData(module, RT_BITMAP, 131));
    Check(banner && banner->biWidth == 285 && banner->biHeight == 40 && banner->biBitCount == 8 &&
              (banner->biClrUsed == 0 || banner->biClrUsed == 256),
          "bitmap 131: 285 x 40, 8 bits, 256-colour palette");

#pragma pack(push, 2)
    struct IconEntry { BYTE width, height, colours, reserved; WORD planes, bits; DWORD bytes; WORD id; };
    struct IconGroup { WORD reserved, type, count; IconEntry entries[2]; };
#pragma pack(pop)
    const auto* icons = reinterpret_cast<const IconGroup*>(ResourceData(module, RT_GROUP_ICON, 128));
    Check(icons && icons->count == 2 && icons->entries[0].width == 32 && icons->entries[1].width == 16 &&
              icons->entries[0].colours == 16 && icons->entries[1].colours == 16,
          "icon 128: 32 x 32 and 16 x 16, 16 colours");

    const BYTE* main = ResourceData(module, RT_DIALOG, 102);
    Check(main != nullptr, "template 102");
    if (main) {
        const DialogTemplate dialog = ReadTemplate(main);
        const DWORD frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK;
        Check((dialog.style & frame) == frame && !(dialog.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
              "template 102: pop-up, visible, caption, system menu, modal frame, no minimise or maximise box");
        Check(dialog.exStyle & WS_EX_APPWINDOW, "template 102: on the task bar");
        Check(dialog.title == L"Lorvane Kelmora" && dialog.cx == 198 && dialog.cy == 129, "template 102: title and size");
        Check(dialog.pointSize == 8 && dialog.face == L"MS Sans Serif", "template 102: font");
        struct Expected { DWORD id; short x, y, cx, cy; const wchar_t* windowClass; DWORD style; };
        const DWORD edit = WS_BORDER | ES_AUTOHSCROLL;
        const Expected expected[] = {
            {1001, 3, 61, 191, 122, L"#133", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
            {1004, 3, 87, 191, 21, L"#129", edit | WS_TABSTOP},
            {IDOK, 47, 112, 50, 14, L"#128", BS_DEFPUSHBUTTON | WS_TABSTOP},
            {IDCANCEL, 102, 112, 50, 14, L"#128", WS_TABSTOP},
            {1002, 82, 35, 35, 13, L"#129", edit | ES_CENTER | ES_NUMBER},
            {1003, 160, 35, 35, 13, L"#129", edit | ES_CENTER | ES_NUMBER},
            {1000, 4, 35, 37, 57, L"#133", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
            {1006, 3, 0, 191, 22, L"#130", SS_BITMAP},
        };
        Check(dialog.items.size() == std::size(expected), "template 102: eight controls");
        for (std::size_t i = 0; i < std::min(dialog.items.size(), std::size(expected)); ++i) {
            const TemplateItem& got = dialog.items[i];
            const Expected& want = expected[i];
            const std::string what = "template 102 control " + std::to_string(i);
            Check(got.id == want.id, what + ": id " + std::to_string(got.id));
            Check(got.x == want.x && got.y == want.y && got.cx == want.cx && got.cy == want.cy, what + ": place");
            Check(got.windowClass == want.windowClass || (want.windowClass == std::wstring(L"#130") &&
                                                          _wcsicmp(got.windowClass.c_str(), L"Static") == 0),
                  what + ": class");
            Check((got.style & want.style) == want.style, what + ": style");
            const bool tabStop = (want.style & WS_TABSTOP) != 0;
            Check(((got.style & WS_TABSTOP) != 0) == tabStop, what + ": tab stop");
        }
        Check(dialog.items.size() == 8 && dialog.items[2].text == L"OK" && dialog.items[3].text == L"Exit" &&
                  dialog.items[7].text == L"#131",
              "template 102: button texts and the banner bitmap");
    }

    const BYTE* about100 = ResourceData(module, RT_DIALOG, 100);
    Check(about100 != nullptr, "template 100");
    if (about100) {
        const DialogTemplate box = ReadTemplate(about100);
        Check(box.title == L"About Lorvane Kelmora" && box.cx == 235 && box.cy == 55 && box.pointSize == 8 &&
                  box.face == L"MS Sans Serif",
              "template 100: title, size, font");
        Check(box.items.size() == 4 && box.items[0].text == L"#128" && box.items[0].x == 11 && box.items[0].y == 17 &&
                  box.items[0].cx == 20 && box.items[0].cy == 20 &&
                  box.items[1].text == L"Lorvane Kelmora Version 1.00.002" && (box.items[1].style & SS_NOPREFIX) &&
                  box.items[1].x == 40 && box.items[1].y == 10 && box.items[1].cx == 188 && box.items[1].cy == 8 &&
                  box.items[2].x == 40 && box.items[2].y == 25 && box.items[2].cx == 119 && box.items[2].cy == 8 &&
                  box.items[3].id == IDOK && box.items[3].x == 178 && box.items[3].y == 34 && box.items[3].cx == 50 &&
                  box.items[3].cy == 14 && (box.items[3].style & BS_DEFPUSHBUTTON),
              "template 100: icon, version line, second line, OK");
    }

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> version(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    Check(size && ::GetFileVersionInfoW(exe.c_str(), 0, size, version.data()) &&
              ::VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
              fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000002,
          "version 1.0.0.2");
    Check(ResourceData(module, RT_MANIFEST, 1) != nullptr, "manifest");
    ::FreeLibrary(module);
}

// For ./run and the benchmarks: wait until a dialog is visible / close it.
int WaitVisible(DWORD limitMs)
{
    return WaitFor([] { return ::FindWindowW(nullptr, L"Lorvane Kelmora") != nullptr; }, std::chrono::milliseconds(limitMs)) ? 0 : 1;
}

int CloseDialog()
{
    for (HWND window : TopLevelWindows())
        if (::GetDlgItem(window, kOperationList) && TextOf(window) == L"Lorvane Kelmora")
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

// For ./run: sends the first operation as the operator would, waits for the
// answer and prints the dialog's screen rectangle for the screenshot.
int Demo()
{
    HWND dialog = nullptr;
    auto shown = [&] {
        dialog = ::FindWindowW(nullptr, L"Lorvane Kelmora");
        return dialog && ::IsWindowVisible(dialog) && ::GetDlgItem(dialog, kOperationList);
    };
    if (!WaitFor(shown, 20s))
        return 1;
    ClickButton(::GetDlgItem(dialog, IDOK));
    WaitFor([&] { return !TextOf(::GetDlgItem(dialog, kOutput)).empty(); }, 3s);
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rect{};
    ::GetWindowRect(dialog, &rect);
    std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
    return 0;
}

// Start-up time: from CreateProcess to a visible dialog, warm (one start first).
int StartupTime(const std::wstring& exe, int runs)
{
    std::vector<double> times;
    for (int run = 0; run <= runs; ++run) {
        Quillon quillon(exe);
        const auto start = Clock::now();
        quillon.Start();
        const bool shown = quillon.WaitForDialog() != nullptr;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!shown)
            return 1;
        if (run > 0)
            times.push_back(ms);
        quillon.Click(IDCANCEL);
        DWORD code = 0;
        quillon.WaitForExit(code);
    }
    std::sort(times.begin(), times.end());
    for (double t : times)
        std::printf("start %.1f ms\n", t);
    const std::size_t middle = times.size() / 2;
    const double median = times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
    std::printf("tool-startup: %.1f ms\n", median);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);   // a killed run still shows its checks
    if (argc < 2) {
        std::printf("usage: quillon_driver SCENARIO [QUILLON_EXE] [TRACE_COM1] [TRACE_COM3]\n");
        return 2;
    }
    const std::wstring scenario = argv[1];
    const std::wstring exe = argc > 2 ? argv[2] : L"";
    const Trace com1(argc > 3 ? argv[3] : L"");
    const Trace com3(argc > 4 ? argv[4] : L"");
    if (scenario == L"wait-visible")
        return WaitVisible(argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 20000);
    if (scenario == L"close")
        return CloseDialog();
    if (scenario == L"demo")
        return Demo();
    if (scenario == L"startup-time")
        return StartupTime(exe, argc > 3 ? _wtoi(argv[3]) : 10);
    if (scenario == L"start-state") {
        StartState(exe);
        Glyphs();
        Resources(exe);
    } else if (scenario == L"operations") {
        Operations(exe, com1);
    } else if (scenario == L"wrong-length") {
        WrongLength(exe, com1);
    } else if (scenario == L"busy") {
        Busy(exe, com1);
    } else if (scenario == L"busy-arriving") {
        Busy(exe, com1, 50ms);
    } else if (scenario == L"port-switch") {
        PortSwitch(exe, com1, com3);
    } else if (scenario == L"no-port") {
        NoPort(exe);
    } else if (scenario == L"output-timer") {
        OutputTimer(exe, com1);
    } else {
        std::printf("unknown scenario\n");
        return 2;
    }
    std::printf("%s: %d failed check(s)\n", Narrow(scenario).c_str(), g_failures);
    return g_failures == 0 ? 0 : 1;
}
