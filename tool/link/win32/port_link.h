// One open serial port with its receiver thread and the response being
// assembled. Owned by CCommunication; the receiver only reads and hands each
// complete response to CCommunication::OnResponse.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/win/unique_handle.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"
#include "tool/link/receiver.h"
#include "tool/link/request_tracker.h"

namespace quillon {

class CCommunication;

class PortLink final : private ReceiverPort, public FrameWriter {
public:
    // The receiver thread's exit codes, so that a forced end shows: it left
    // by itself, or closing ended it by force.
    static constexpr DWORD kReceiverLeft = 0;
    static constexpr DWORD kReceiverEndedByForce = ERROR_TIMEOUT;

    // gateEvent is borrowed from the owner and must outlive this link.
    PortLink(CCommunication& owner, int portNumber, HANDLE gateEvent, LinkEvents& events);
    ~PortLink() override;
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Closes first, so a second Open starts afresh. After a failure past the
    // opening of the port, the port stays held without a receiver until the
    // next Close.
    bool Open();
    // Ends the receiver (cooperatively, answering the message boxes it
    // shows; by force only if it still does not leave), then breaks the line
    // and releases the port.
    void Close();
    bool Write(const std::uint8_t* bytes, std::size_t count);
    bool WriteFrame(const std::uint8_t* bytes, std::size_t count) override { return Write(bytes, count); }
    void StartReceiver();

    // Its SYN flag is read and cleared by the response timer.
    ResponseFrame& Response() { return m_response; }

private:
    static unsigned __stdcall ReceiverLoop(void* parameter);
    void EndReceiver();

    // ReceiverPort, on the receiver thread.
    ReadResult ReadByte(std::uint8_t& byte) override;
    void RecoverFromReadFailure() override;
    void DeliverFrame(ResponseFrame& response) override;
    std::uint64_t NowMs() override { return ::GetTickCount64(); }

    CCommunication& m_owner;
    ResponseFrame m_response;
    OVERLAPPED m_io{};        // the receiver's reads
    lorvane::win::UniqueHandle m_writeEvent;
    OVERLAPPED m_writeIo{};   // the window thread's writes: one record per thread
    lorvane::win::UniqueHandle m_receiverThread;
    unsigned m_receiverThreadId = 0;   // whose message boxes closing looks for
    // Set by Open and released by Close on the window's thread; the receiver
    // reads it only while it runs, between StartReceiver and EndReceiver.
    lorvane::win::UniqueHandle m_port;
    HANDLE m_gateEvent;
    int m_portNumber;
    DCB m_lineSettings{};
    LinkEvents& m_events;
    lorvane::win::UniqueHandle m_receiverEvent;   // created by the receiver
    std::atomic<bool> m_stopReceiver{false};
    std::uint8_t m_readBuffer = 0;
};

}  // namespace quillon
