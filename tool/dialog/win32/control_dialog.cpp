#include "tool/dialog/win32/control_dialog.h"

#include <new>
#include <utility>

#include "common/version.h"
#include "common/win/gdi_scope.h"
#include "common/win/posted_object.h"
#include "common/win/text.h"
#include "common/win/unique_handle.h"
#include "tool/dialog/win32/resource.h"
#include "tool/link/link_settings.h"
#include "tool/link/win32/communication.h"

namespace quillon {
namespace {

using lorvane::win::PostOwned;
using lorvane::win::ScopedPaint;
using lorvane::win::ScopedSelection;
using lorvane::win::TakePosted;
using lorvane::win::UniqueGdiObject;
using lorvane::win::WideFrom1251;

constexpr UINT_PTR kResponseTimer = 1;
constexpr UINT kResponseTimerPeriod = kResponsePeriodMs;
constexpr UINT_PTR kClearOutputTimer = 2;
constexpr UINT kClearOutputPeriod = 5000;

// Private message: a heap copy of an answer text in lParam (PostOwned); the
// window's thread takes it back when it handles or drops the message.
constexpr UINT kShowResponseMessage = WM_APP + 1;

constexpr int kPortCount = 4;
constexpr int kLastOperationIndex = kReportOperationCount - 1;

// The operation list's own message for an unknown index, in Latin letters;
// the OK action has its Cyrillic one.
constexpr std::string_view kUnknownOperationMessage = "Nqma takawa finkciq!";

// Painted labels, client pixels of the upper left corner.
struct PaintedText {
    std::string_view text;
    int x;
    int y;
};
constexpr PaintedText kPortLabel{"COM:", 8, 40};
constexpr PaintedText kOperationLabel{"\xD4\xF3\xED\xEA\xF6\xE8\xFF:", 8, 80};   // "Функция:"
constexpr PaintedText kOutputLabel{"\xCE\xF2\xE3\xEE\xE2\xEE\xF0:", 8, 120};     // "Отговор:"
constexpr PaintedText kVersionLabel{"ver: " QUILLON_VERSION_TEXT, 235, 195};
constexpr int kVersionFontHeight = 12;

// The range labels sit in this area, above the two range fields.
constexpr RECT kLabelArea{80, 40, 275, 56};
constexpr int kDateLabelOffsets[2] = {45, 162};
constexpr int kNumberLabelOffsets[2] = {51, 167};

void TextOutAt(HDC dc, int x, int y, std::string_view text1251)
{
    const std::wstring wide = WideFrom1251(text1251);
    ::TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

// The AboutBox has no behaviour of its own: OK and Escape close it.
INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) noexcept
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(box, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void TextOutAt(HDC dc, const PaintedText& painted) { TextOutAt(dc, painted.x, painted.y, painted.text); }

}  // namespace

ControlDialog::ControlDialog(HINSTANCE instance)
    : m_instance(instance),
      m_icon(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0, 0,
                                             LR_DEFAULTSIZE | LR_SHARED)))
{
}

// The window is gone by now; a connection left over (the dialog never ran
// its end) is closed here so the line still ends in the break state.
ControlDialog::~ControlDialog()
{
    if (m_connection)
        m_connection->Disconection();
}

INT_PTR ControlDialog::RunModal()
{
    m_windowThread = ::GetCurrentThreadId();
    return ::DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_CONTROL_DIALOG), nullptr, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ControlDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<ControlDialog*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        self->m_window = window;
    }
    auto* self = reinterpret_cast<ControlDialog*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return FALSE;
    // Nothing may unwind into the system's dialog code. What the handlers can
    // raise is an allocation failure for a text; the message is then left to
    // the default handling, as if it had not been handled.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR ControlDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return FALSE;   // the focus was given to the first range field
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam) ? TRUE : FALSE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_icon);
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case kShowResponseMessage:
        if (const auto text = TakePosted<std::string>(lParam))
            SetResponse(*text);
        return TRUE;
    default:
        return FALSE;
    }
}

void ControlDialog::OnInitDialog()
{
    FillLists();

    HMENU systemMenu = ::GetSystemMenu(m_window, FALSE);
    wchar_t about[64] = {};
    if (systemMenu && ::LoadStringW(m_instance, IDS_ABOUTBOX, about, static_cast<int>(std::size(about))) > 0) {
        ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }

    ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    // The same icon resource; at the small size its own 16 x 16 image is used.
    HANDLE smallIcon = ::LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                    ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon ? smallIcon : m_icon));

    ::SendDlgItemMessageW(m_window, IDC_RANGE_FIRST, EM_SETLIMITTEXT, kRangeFieldLimit, 0);
    ::SendDlgItemMessageW(m_window, IDC_RANGE_SECOND, EM_SETLIMITTEXT, kRangeFieldLimit, 0);
    ::SetFocus(::GetDlgItem(m_window, IDC_RANGE_FIRST));

    const RangeDefaults& dates = *FindRangeDefaults(RangeKind::DateRange);
    ::SetDlgItemTextW(m_window, IDC_RANGE_FIRST, WideFrom1251(dates.firstText).c_str());
    ::SetDlgItemTextW(m_window, IDC_RANGE_SECOND, WideFrom1251(dates.secondText).c_str());

    ::SendDlgItemMessageW(m_window, IDC_PORT_LIST, CB_SETCURSEL, 0, 0);
    ::SendDlgItemMessageW(m_window, IDC_OPERATION_LIST, CB_SETCURSEL, 0, 0);
    m_operation = static_cast<int>(::SendDlgItemMessageW(m_window, IDC_OPERATION_LIST, CB_GETCURSEL, 0, 0));

    Connect(1);
}

// The lists' items, before anything else runs: COM1..COM4 and the report
// table's texts in table order (the operation list is unsorted, so an item's
// position is its operation index).
void ControlDialog::FillLists()
{
    for (int port = 1; port <= kPortCount; ++port) {
        const std::wstring name = L"COM" + std::to_wstring(port);
        ::SendDlgItemMessageW(m_window, IDC_PORT_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    for (const ReportOperation& operation : ReportOperations()) {
        const std::wstring text = WideFrom1251(operation.listText);
        ::SendDlgItemMessageW(m_window, IDC_OPERATION_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

bool ControlDialog::OnSysCommand(WPARAM command)
{
    if ((command & 0xFFF0) != IDM_ABOUTBOX)
        return false;   // move, close and the rest: the system's own handling
    ::DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), m_window, AboutBoxProc, 0);
    return true;
}

void ControlDialog::OnPaint()
{
    const ScopedPaint paint(m_window);
    if (::IsIconic(m_window))
        PaintMinimised(paint.Dc());
    else
        PaintLabels(paint.Dc());
}

void ControlDialog::PaintMinimised(HDC dc)
{
    ::SendMessageW(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(m_window, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_icon);
}

void ControlDialog::PaintLabels(HDC dc)
{
    const COLORREF menu = ::GetSysColor(COLOR_MENU);
    UniqueGdiObject brush(::CreateSolidBrush(menu));
    ::SetBkColor(dc, menu);   // opaque text: each label sits on a menu-coloured cell

    TextOutAt(dc, kPortLabel);
    TextOutAt(dc, kOperationLabel);
    TextOutAt(dc, kOutputLabel);

    const RangeDefaults* range = FindRangeDefaults(m_operation);
    if (!range) {
        ::FillRect(dc, &kLabelArea, static_cast<HBRUSH>(brush.Get()));
    } else {
        const auto& offsets = range == FindRangeDefaults(RangeKind::DateRange) ? kDateLabelOffsets : kNumberLabelOffsets;
        TextOutAt(dc, kLabelArea.left + offsets[0], kLabelArea.top, range->firstLabel);
        TextOutAt(dc, kLabelArea.left + offsets[1], kLabelArea.top, range->secondLabel);
    }

    const UniqueGdiObject font(::CreateFontW(kVersionFontHeight, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial"));
    const ScopedSelection selected(dc, font.Get());   // ends before the font is deleted
    TextOutAt(dc, kVersionLabel);
}

void ControlDialog::OnTimer(UINT_PTR id)
{
    ::KillTimer(m_window, id);
    if (id == kResponseTimer) {
        if (m_connection)
            m_connection->OnResponseTimer();   // may arm timer 1 again
    } else {
        SetResponse({});
    }
}

void ControlDialog::OnCommand(WORD id, WORD notification)
{
    switch (id) {
    case IDC_PORT_LIST:
        if (notification == CBN_SELCHANGE)
            OnPortChange();
        break;
    case IDC_OPERATION_LIST:
        if (notification == CBN_SELCHANGE)
            OnOperationChange();
        break;
    case IDOK:
        SendReport(*this, m_sink, m_request);
        break;
    case IDCANCEL:
        Close();
        break;
    default:
        break;
    }
}

void ControlDialog::OnPortChange()
{
    const auto index = static_cast<int>(::SendDlgItemMessageW(m_window, IDC_PORT_LIST, CB_GETCURSEL, 0, 0));
    if (m_connection) {
        m_connection->Disconection();
        m_connection.reset();
    }
    Connect(index + 1);
}

void ControlDialog::OnOperationChange()
{
    m_operation = static_cast<int>(::SendDlgItemMessageW(m_window, IDC_OPERATION_LIST, CB_GETCURSEL, 0, 0));
    HWND first = ::GetDlgItem(m_window, IDC_RANGE_FIRST);
    HWND second = ::GetDlgItem(m_window, IDC_RANGE_SECOND);
    if (static_cast<unsigned>(m_operation) > kLastOperationIndex) {
        m_sink.ShowMessage(kUnknownOperationMessage, kCaptionError, MessageIcon::Error);
    } else if (const RangeDefaults* range = FindRangeDefaults(m_operation)) {
        ::ShowWindow(first, SW_SHOW);
        ::ShowWindow(second, SW_SHOW);
        ::SetFocus(first);
        ::SetWindowTextW(first, WideFrom1251(range->firstText).c_str());
        ::SetWindowTextW(second, WideFrom1251(range->secondText).c_str());
    } else {
        ::ShowWindow(first, SW_HIDE);
        ::ShowWindow(second, SW_HIDE);
    }
    ::InvalidateRect(m_window, nullptr, TRUE);   // the painted labels follow the operation
}

void ControlDialog::Connect(int portNumber)
{
    // Nothing may throw out of the dialog procedure: without memory for a
    // connection the operator is told, and every use of it checks for one.
    m_connection.reset(new (std::nothrow) CCommunication(portNumber, *this, m_linkEvents));
    if (!m_connection) {
        m_linkEvents.OnLinkEvent({LinkEventKind::NoMemory});
        return;
    }
    if (!m_connection->MakeConection())
        m_linkEvents.OnLinkEvent({LinkEventKind::PortNotOpened});
}

// Exit, Escape, the close box. The connection is closed first, so the line
// is left in the break state and released and the receiver posts nothing
// more; answers still queued are freed before the window goes.
void ControlDialog::Close()
{
    if (m_connection) {
        m_connection->Disconection();
        m_connection.reset();
    }
    DropPendingResponses();
    ::EndDialog(m_window, IDCANCEL);
}

void ControlDialog::DropPendingResponses()
{
    MSG message{};
    while (::PeekMessageW(&message, m_window, kShowResponseMessage, kShowResponseMessage, PM_REMOVE))
        TakePosted<std::string>(message.lParam).reset();
}

// Only the window's thread sends and runs the response timer, so only it
// arms the timer.
void ControlDialog::StartResponseTimer()
{
    ::SetTimer(m_window, kResponseTimer, kResponseTimerPeriod, nullptr);
}

// On the receiver thread the text is copied and posted: the window's thread
// arms timer 2 and sets the field when it gets there, even while a modal box
// is open on it, and the receiver never waits for that.
void ControlDialog::ShowResponse(const char* text)
{
    const std::string_view view = text ? std::string_view(text) : std::string_view();
    if (::GetCurrentThreadId() == m_windowThread) {
        SetResponse(view);
        return;
    }
    std::unique_ptr<std::string> copy;
    try {
        copy = std::make_unique<std::string>(view);
    } catch (const std::bad_alloc&) {
        return;   // the answer is not shown; nothing else suffers
    }
    PostOwned(m_window, kShowResponseMessage, std::move(copy));   // freed here if it cannot go
}

void ControlDialog::SetResponse(std::string_view text)
{
    if (!text.empty())
        ::SetTimer(m_window, kClearOutputTimer, kClearOutputPeriod, nullptr);
    ::SetDlgItemTextW(m_window, IDC_OUTPUT, WideFrom1251(text).c_str());
}

bool ControlDialog::IsBusy() { return m_connection && m_connection->m_busy.load() == 1; }

int ControlDialog::CurrentOperation() { return m_operation; }

std::string ControlDialog::ReadRangeField(RangeField field)
{
    HWND edit = ::GetDlgItem(m_window, field == RangeField::First ? IDC_RANGE_FIRST : IDC_RANGE_SECOND);
    const int length = ::GetWindowTextLengthW(edit);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = ::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return lorvane::win::CodePageFromWide(text, lorvane::win::kCyrillicCodePage);
}

void ControlDialog::SendRequest(RequestFrame& frame)
{
    if (m_connection)
        m_connection->SendRequest(frame);
}

}  // namespace quillon
