// Works Quillon.exe from another process, as an operator does: finds its
// windows, reads the controls, picks, types and clicks, reads message boxes.
// Shared by ./run, the tool benchmarks (through quillon-remote.exe) and the
// dialog tests. Everything polls against deadlines: under Wine a window may
// take seconds to appear on a loaded machine.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/win/unique_handle.h"

namespace quillon::remote {

// The dialog's controls, spelt independently of the program's own header.
inline constexpr int kPortList = 1000;
inline constexpr int kOperationList = 1001;
inline constexpr int kRangeFirst = 1002;
inline constexpr int kRangeSecond = 1003;
inline constexpr int kOutput = 1004;
inline constexpr int kMessageBoxText = 0xFFFF;
inline constexpr wchar_t kDialogTitle[] = L"Lorvane Kelmora";

inline constexpr std::chrono::milliseconds kWindowDeadline{10'000};

// Polls condition every 20 ms until it holds (true) or limit has passed (false).
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = kWindowDeadline);

// WM_GETTEXT, which works across processes (GetWindowTextW does not).
std::wstring TextOf(HWND window);
// A sent message that gives up on a hung window after 5 s.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::wstring ClassOf(HWND window);
std::string Utf8(const std::wstring& text);

// Visible top-level windows of process pid: the control dialog (the window
// with the operation list: a message box may carry the same caption), a
// message box (a dialog with the static text control 0xFFFF), a window by title.
HWND FindDialog(DWORD pid);
HWND FindMessageBox(DWORD pid);
HWND FindWindowTitled(DWORD pid, const std::wstring& title);
// The same for any process: the first visible control dialog.
HWND FindAnyDialog();

// A button's click as its parent receives it, posted: the click may open a
// modal box. (BM_CLICK is not used: under Wine it depends on mouse capture
// and gets lost when the window is not active.)
void ClickButton(HWND button);

enum class IconColour { Red, Blue, Unknown };
// Tells a message box's error icon (red) from its information icon (blue)
// by the pixels on the screen: the icon handle cannot be read across processes.
IconColour IconColourOf(HWND box);

// One Quillon.exe started by the caller and ended, if still running, when
// this object goes.
class QuillonProcess {
public:
    explicit QuillonProcess(std::wstring exe) : m_exe(std::move(exe)) {}
    ~QuillonProcess();
    QuillonProcess(const QuillonProcess&) = delete;
    QuillonProcess& operator=(const QuillonProcess&) = delete;

    bool Start();
    DWORD Pid() const { return m_pid; }
    HWND WaitForDialog();
    HWND WaitForMessageBox() const;
    bool WaitForExit(DWORD& code, std::chrono::milliseconds limit = kWindowDeadline) const;

    HWND Dialog() const { return m_dialog; }
    HWND Item(int id) const { return ::GetDlgItem(m_dialog, id); }
    std::wstring ItemText(int id) const { return TextOf(Item(id)); }
    int Selection(int listId) const;
    void SetItemText(int id, const std::wstring& text) const;
    // A selection change as the list reports it when the operator picks an
    // item; posted, as the dialog may answer it with a modal box.
    void Pick(int listId, int index) const;
    // Like Pick, and returns once the dialog has handled it.
    void PickAndWait(int listId, int index) const;
    void Click(int id) const { ClickButton(Item(id)); }
    void PressKey(UINT key) const;
    HWND FocusedControl() const;

private:
    std::wstring m_exe;
    lorvane::win::UniqueHandle m_process;
    DWORD m_pid = 0;
    HWND m_dialog = nullptr;
};

// For ./run and the benchmarks, on whichever Quillon dialog is open.
bool WaitUntilVisible(std::chrono::milliseconds limit);
void CloseDialogs();
// Presses OK as the operator would, waits up to 3 s for an answer and
// returns the dialog's screen rectangle, repainted for a screenshot.
std::optional<RECT> SendFirstOperation(std::chrono::milliseconds limit);
// Milliseconds from CreateProcess to a visible dialog for runs warm starts
// (one start before them is not counted); empty when a start failed.
std::vector<double> StartupTimes(const std::wstring& exe, int runs);

// A resource of a module loaded as data; empty when it is not there.
std::span<const std::uint8_t> ResourceBytes(HMODULE module, const wchar_t* type, int id);

}  // namespace quillon::remote
