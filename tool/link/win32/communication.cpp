#include "tool/link/win32/communication.h"

#include <windows.h>

#include <new>

#include "tool/link/link_owner.h"
#include "tool/link/link_settings.h"
#include "tool/link/win32/port_link.h"

namespace quillon {

void GateEventTraits::Close(Type event) noexcept { ::CloseHandle(event); }

CCommunication::CCommunication(int portNumber, LinkOwner& owner, LinkEvents& events)
    : m_gateEvent(::CreateEventA(nullptr, TRUE, TRUE, kGateEventName)), m_portNumber(portNumber), m_owner(owner),
      m_events(events), m_request(m_busy, owner, events)
{
    // Opening an existing "eventName" keeps its state: signal it in any case.
    ::SetEvent(m_gateEvent.Get());
    m_m_conection.reset(new (std::nothrow) PortLink(*this, m_portNumber, m_gateEvent.Get(), m_events));
    if (!m_m_conection)
        m_events.OnLinkEvent({LinkEventKind::NoMemory});
}

CCommunication::~CCommunication()
{
    // The receiver calls back into this object: end it before any member goes.
    m_m_conection.reset();
}

bool CCommunication::MakeConection()
{
    if (!m_m_conection) {
        m_events.OnLinkEvent({LinkEventKind::MakeConectionWithoutLink});
        return false;
    }
    return m_m_conection->Open();
}

void CCommunication::Disconection()
{
    if (!m_m_conection) {
        m_events.OnLinkEvent({LinkEventKind::DisconectionWithoutLink});
        return;
    }
    m_m_conection->Close();
}

void CCommunication::SendRequest(RequestFrame& frame)
{
    // Nothing could end the wait without a link (the timer ignores it), so
    // no request is started at all.
    if (!m_m_conection) {
        m_events.OnLinkEvent({LinkEventKind::SendRequestWithoutLink});
        return;
    }
    frame.sequence = m_request.Sequence();
    BuildRequestFrame(frame);
    SendBuiltFrame(m_request, *m_m_conection, frame);
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
