#include "communication.h"

#include <windows.h>

#include <new>

#include "port_link.h"
#include "tool/link/link_owner.h"
#include "tool/link/link_settings.h"
#include "tool/link/link_texts.h"
#include "tool/link/message_sink.h"

namespace quillon {

void GateEventTraits::Close(Type event) noexcept { ::CloseHandle(event); }

CCommunication::CCommunication(int portNumber, LinkOwner& owner, MessageSink& sink)
    : m_gateEvent(::CreateEventA(nullptr, TRUE, TRUE, kGateEventName)), m_portNumber(portNumber), m_owner(owner),
      m_sink(sink), m_request(m_busy, owner, sink)
{
    // Opening an existing "eventName" keeps its state: signal it in any case.
    ::SetEvent(m_gateEvent.Get());
    m_m_conection.reset(new (std::nothrow) PortLink(*this, m_portNumber, m_gateEvent.Get(), m_sink));
    if (!m_m_conection)
        m_sink.ShowMessage(texts::kNoMemory, kCaptionError, MessageIcon::Error);
}

CCommunication::~CCommunication()
{
    // The receiver calls back into this object: end it before any member goes.
    m_m_conection.reset();
}

bool CCommunication::MakeConection()
{
    if (!m_m_conection) {
        m_sink.ShowMessage(texts::kMakeConectionWithoutLink, kCaptionError, MessageIcon::Error);
        return false;
    }
    return m_m_conection->Open();
}

void CCommunication::Disconection()
{
    if (!m_m_conection) {
        m_sink.ShowMessage(texts::kDisconectionWithoutLink, kCaptionError, MessageIcon::Error);
        return;
    }
    m_m_conection->Close();
}

void CCommunication::SendRequest(RequestFrame& frame)
{
    // Nothing could end the wait without a link (the timer ignores it), so
    // no request is started at all.
    if (!m_m_conection) {
        m_sink.ShowMessage(texts::kSendRequestWithoutLink, kCaptionError, MessageIcon::Error);
        return;
    }
    frame.sequence = m_request.Sequence();
    BuildRequestFrame(frame);
    m_request.RequestStarting();
    // A failed write is not reported here: the response timer reports the
    // printer as not answering.
    m_m_conection->Write(frame.frame.data(), frame.FrameSize());
    m_request.RequestWritten();
}

void CCommunication::OnResponseTimer()
{
    if (!m_m_conection)
        return;
    m_request.ResponseTimerFired(m_m_conection->Response().syn);
}

void CCommunication::OnResponse(ResponseFrame& response)
{
    m_request.ResponseArrived(response);
}

}  // namespace quillon
