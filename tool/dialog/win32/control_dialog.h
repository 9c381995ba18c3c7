// The control tool's one window: a modal dialog that is also the main window.
// It owns the connection to the printer, switches port and operation, paints
// its labels, runs the two timers and shows the printer's answers.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "tool/dialog/link_notices.h"
#include "tool/dialog/report_operations.h"
#include "tool/dialog/win32/message_box_sink.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/link_owner.h"

namespace quillon {

class CCommunication;

class ControlDialog final : public LinkOwner, public AnswerField, private ReportDialog {
public:
    // Loads the icon; the window is made by RunModal.
    explicit ControlDialog(HINSTANCE instance);
    ~ControlDialog() override;
    ControlDialog(const ControlDialog&) = delete;
    ControlDialog& operator=(const ControlDialog&) = delete;

    // Runs the dialog until Exit, Escape or the close box.
    INT_PTR RunModal();

    // LinkOwner: comes on the window's thread.
    void StartResponseTimer() override;
    // AnswerField: may come on the receiver thread and never blocks it.
    void ShowResponse(const char* text) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void FillLists();
    bool OnSysCommand(WPARAM command);
    void OnPaint();
    void PaintMinimised(HDC dc);
    void PaintLabels(HDC dc);
    void OnTimer(UINT_PTR id);
    void OnCommand(WORD id, WORD notification);
    void OnPortChange();
    void OnOperationChange();
    void Connect(int portNumber);
    void Close();
    void SetResponse(std::string_view text);
    void DropPendingResponses();

    // ReportDialog: what the OK action reads and calls.
    bool IsBusy() override;
    int CurrentOperation() override;
    std::string ReadRangeField(RangeField field) override;
    void SendRequest(RequestFrame& frame) override;

    HINSTANCE m_instance;
    HICON m_icon;                       // shared resource icon; never destroyed
    HWND m_window = nullptr;
    DWORD m_windowThread = 0;
    int m_operation = 0;                // current operation index, as last reported
    std::unique_ptr<CCommunication> m_connection;
    RequestFrame m_request;             // the program's one request record
    MessageBoxSink m_sink;
    DialogLinkEvents m_linkEvents{*this, m_sink};   // what the connection reports
};

}  // namespace quillon
