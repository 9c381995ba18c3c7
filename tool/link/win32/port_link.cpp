#include "tool/link/win32/port_link.h"

#include <process.h>

#include <algorithm>
#include <cwchar>

#include "tool/link/link_settings.h"
#include "tool/link/win32/communication.h"
#include "tool/link/win32/serial_setup.h"

namespace quillon {

namespace {

// How often closing looks for a message box on the receiver thread.
constexpr ULONGLONG kBoxLookMs = 20;

// EnumThreadWindows callback: answers a message box (dialog class) with OK.
BOOL CALLBACK AnswerMessageBox(HWND window, LPARAM) noexcept
{
    wchar_t className[8] = {};
    if (::GetClassNameW(window, className, 8) == 6 && std::wcscmp(className, L"#32770") == 0)
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

// Waits at most timeoutMs for thread to end; true when it has. Messages that
// other threads send to this one are handled meanwhile: a box's owner may be
// a window of this thread, and the box disables and enables it by sending
// messages, so a plain wait would hold the receiver inside its box.
bool WaitForThreadEnd(HANDLE thread, DWORD timeoutMs)
{
    const DWORD woken = ::MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0 + 1) {
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return woken == WAIT_OBJECT_0;
}

}  // namespace

PortLink::PortLink(CCommunication& owner, int portNumber, HANDLE gateEvent, LinkEvents& events)
    : m_owner(owner), m_writeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_gateEvent(gateEvent),
      m_portNumber(portNumber), m_lineSettings(PreparedLineSettings()), m_events(events)
{
    m_writeIo.hEvent = m_writeEvent.Get();
    ResetResponseFrame(m_response);
}

PortLink::~PortLink()
{
    Close();
    ResetResponseFrame(m_response);
}

bool PortLink::Open()
{
    Close();

    lorvane::win::UniqueHandle port = OpenSerialPort(PortName(m_portNumber));
    if (!port)
        return false;  // the dialog tells the operator
    m_port = std::move(port);
    const HANDLE held = m_port.Get();

    switch (SetUpPort(held, m_lineSettings)) {
    case PortSetup::Done:
        break;
    case PortSetup::CannotReadState:
        m_events.OnLinkEvent({LinkEventKind::CannotReadState});
        return false;
    case PortSetup::CannotSetState:
        m_events.OnLinkEvent({LinkEventKind::CannotSetState});
        return false;
    }
    StartReceiver();
    return true;
}

void PortLink::StartReceiver()
{
    // Bytes of a frame that was cut off when the port was last closed must
    // not prefix the first answer on the reopened port.
    ResetResponseFrame(m_response);
    m_stopReceiver = false;
    const auto thread = ::_beginthreadex(nullptr, 0, &PortLink::ReceiverLoop, this, 0, &m_receiverThreadId);
    m_receiverThread.Reset(reinterpret_cast<HANDLE>(thread));
}

void PortLink::EndReceiver()
{
    if (!m_receiverThread)
        return;
    m_stopReceiver = true;
    // The receiver looks at the flag at least once per read wait, but not
    // while it shows a message box. Such a box is answered with OK: the
    // system then enables its owner again (often another program's window,
    // which a box ended by force would leave disabled for good) and the
    // receiver leaves by itself. A box that was still opening is answered on
    // a later look. Ending the thread by force is the last resort.
    const ULONGLONG deadline = ::GetTickCount64() + kReceiverStopWaitMs;
    ULONGLONG nextLook = 0;
    bool left = false;
    for (ULONGLONG now = ::GetTickCount64(); !left && now < deadline; now = ::GetTickCount64()) {
        if (now >= nextLook) {
            ::EnumThreadWindows(m_receiverThreadId, &AnswerMessageBox, 0);
            nextLook = now + kBoxLookMs;
        }
        left = WaitForThreadEnd(m_receiverThread.Get(), static_cast<DWORD>(std::min(nextLook, deadline) - now));
    }
    if (!left)
        ::TerminateThread(m_receiverThread.Get(), kReceiverEndedByForce);
    m_receiverThread.Reset();
}

void PortLink::Close()
{
    EndReceiver();
    if (m_port)
        ::SetCommBreak(m_port.Get());
    m_port.Reset();
}

bool PortLink::Write(const std::uint8_t* bytes, std::size_t count)
{
    m_writeIo.Offset = 0;
    m_writeIo.OffsetHigh = 0;
    DWORD written = 0;
    // The port is not opened for overlapped I/O, so the call completes before
    // it returns; the record is passed all the same because the system then
    // signals its event, and programs watching the line wait on that name.
    return ::WriteFile(m_port.Get(), bytes, static_cast<DWORD>(count), &written, &m_writeIo) != FALSE;
}

unsigned __stdcall PortLink::ReceiverLoop(void* parameter)
{
    auto& link = *static_cast<PortLink*>(parameter);
    // Named as before; opening it again on a later start yields a new handle,
    // so the previous one is released.
    link.m_receiverEvent.Reset(::CreateEventA(nullptr, TRUE, FALSE, ReceiverEventName(link.m_portNumber)));
    link.m_io.hEvent = link.m_receiverEvent.Get();
    RunReceiver(link, link.m_response, link.m_events, link.m_stopReceiver);
    return kReceiverLeft;
}

ReadResult PortLink::ReadByte(std::uint8_t& byte)
{
    m_io.Offset = 0;
    m_io.OffsetHigh = 0;
    m_readBuffer = 0;
    ::WaitForSingleObject(m_gateEvent, INFINITE);
    // With the I/O record for the same reason as Write: its event is the
    // per-port event, signalled on every completed read.
    const ReadResult result = ReadOneByte(m_port.Get(), m_readBuffer, &m_io);
    byte = m_readBuffer;
    return result;
}

void PortLink::RecoverFromReadFailure()
{
    RecoverFromLineError(m_port.Get());
}

void PortLink::DeliverFrame(ResponseFrame& response)
{
    m_owner.OnResponse(response);
    ResetResponseFrame(response);
}

}  // namespace quillon
