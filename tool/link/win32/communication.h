// The control tool's one connection to the fiscal printer, on COM1..COM4.
// Owns a PortLink (port, receiver thread, response being assembled) and
// arms its owner window's response timer through LinkOwner; reports what
// happens, failures included, as link events.
#pragma once

#include <atomic>
#include <memory>

#include "common/win/unique_any.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"
#include "tool/link/request_tracker.h"

namespace quillon {

class LinkOwner;
class PortLink;

// The gate event's handle (a HANDLE), closed in communication.cpp, so that
// this header, which portable tests and tools include, stays free of
// <windows.h>.
struct GateEventTraits {
    using Type = void*;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type event) noexcept { return event != nullptr; }
    static void Close(Type event) noexcept;
};

class CCommunication {
public:
    // portNumber 2..4 selects COM2..COM4, anything else COM1. The port is not
    // opened here; MakeConection does that.
    CCommunication(int portNumber, LinkOwner& owner, LinkEvents& events);
    // Closes the port and ends the receiver, then releases the gate event.
    ~CCommunication();
    CCommunication(const CCommunication&) = delete;
    CCommunication& operator=(const CCommunication&) = delete;

    // Opens (or reopens) the port, applies the line settings and starts the
    // receiver. False when any step fails; only a port that cannot be
    // opened at all goes without a message.
    bool MakeConection();
    // Ends the receiver and releases the port.
    void Disconection();
    // Window's thread. Stamps the sequence number, builds and writes the
    // frame, marks the request outstanding and arms the response timer.
    // The caller checks m_busy first.
    void SendRequest(RequestFrame& frame);
    // Window's thread, once per firing of the response timer.
    void OnResponseTimer();
    // Receiver thread, once per complete response.
    void OnResponse(ResponseFrame& response);

private:
    lorvane::win::UniqueAny<GateEventTraits> m_gateEvent;
    int m_portNumber;
    std::unique_ptr<PortLink> m_m_conection;   // null only when it could not be created

public:
    // 1 while a request is outstanding. Written only by m_request (the
    // RequestTracker), on whichever thread starts or ends the wait; read by
    // the dialog before a send.
    std::atomic<int> m_busy{0};

private:
    LinkOwner& m_owner;
    LinkEvents& m_events;
    RequestTracker m_request;   // holds the sequence number
};

}  // namespace quillon
