#include "port_link.h"

#include <process.h>

#include "communication.h"
#include "serial_setup.h"
#include "tool/link/link_settings.h"
#include "tool/link/link_texts.h"
#include "tool/link/message_sink.h"

namespace quillon {

PortLink::PortLink(CCommunication& owner, int portNumber, HANDLE gateEvent, MessageSink& sink)
    : m_owner(owner), m_writeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_gateEvent(gateEvent),
      m_portNumber(portNumber), m_lineSettings(PreparedLineSettings()), m_sink(sink)
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
        m_sink.ShowMessage(texts::kCannotReadState, kCaptionError, MessageIcon::Error);
        return false;
    case PortSetup::CannotSetState:
        m_sink.ShowMessage(texts::kCannotSetState, kCaptionError, MessageIcon::Error);
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
    const auto thread = ::_beginthreadex(nullptr, 0, &PortLink::ReceiverLoop, this, 0, nullptr);
    m_receiverThread.Reset(reinterpret_cast<HANDLE>(thread));
}

void PortLink::EndReceiver()
{
    if (!m_receiverThread)
        return;
    m_stopReceiver = true;
    // The receiver looks at the flag at least once per read wait. Only one
    // held by a message box misses this; ending it by force is then the
    // lesser evil, and safe there since it waits in the box's message loop.
    if (::WaitForSingleObject(m_receiverThread.Get(), kReceiverStopWaitMs) != WAIT_OBJECT_0)
        ::TerminateThread(m_receiverThread.Get(), 0);
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
    RunReceiver(link, link.m_response, link.m_sink, link.m_stopReceiver);
    return 0;
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
