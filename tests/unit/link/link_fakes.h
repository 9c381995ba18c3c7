// Recording fakes of the link's seams, shared by the link tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "response_builder.h"
#include "tool/dialog/message_sink.h"
#include "tool/link/fiscal_frame.h"
#include "tool/link/link_events.h"
#include "tool/link/link_owner.h"

namespace quillon::testing {

// One call on an owner, an event, or what the dialog shows, in the order
// the calls were made.
struct LoggedCall {
    std::string kind;      // "timer", an event's name, or "response" and "message" as shown
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Information;
    int command = 0;       // of an event's response
};

inline const char* EventName(LinkEventKind kind)
{
    switch (kind) {
    case LinkEventKind::Answered: return "answered";
    case LinkEventKind::TaxRateError: return "tax-rate-error";
    case LinkEventKind::Unsolicited: return "unsolicited";
    case LinkEventKind::SynExtended: return "syn";
    case LinkEventKind::NoAnswer: return "no-answer";
    case LinkEventKind::Nak: return "nak";
    case LinkEventKind::UnusableLength: return "unusable-length";
    case LinkEventKind::ShortLength: return "short-length";
    case LinkEventKind::FrameStalled: return "stalled";
    case LinkEventKind::Echo: return "echo";
    default: return "connection";
    }
}

class EventLog {
public:
    void Add(LoggedCall event)
    {
        std::lock_guard lock(m_lock);
        m_events.push_back(std::move(event));
    }
    std::vector<LoggedCall> Events() const
    {
        std::lock_guard lock(m_lock);
        return m_events;
    }
    int Count(std::string_view kind) const
    {
        std::lock_guard lock(m_lock);
        int n = 0;
        for (const auto& e : m_events)
            n += e.kind == kind ? 1 : 0;
        return n;
    }

private:
    mutable std::mutex m_lock;
    std::vector<LoggedCall> m_events;
};

class RecordingOwner : public LinkOwner {
public:
    explicit RecordingOwner(EventLog& log) : m_log(log) {}
    void StartResponseTimer() override { m_log.Add({"timer", {}, {}, {}}); }

private:
    EventLog& m_log;
};

class RecordingEvents : public LinkEvents {
public:
    explicit RecordingEvents(EventLog& log) : m_log(log) {}
    void OnLinkEvent(const LinkEvent& event) override
    {
        m_log.Add({EventName(event.kind), {}, {}, {}, event.response ? event.response->command : 0});
    }

private:
    EventLog& m_log;
};

// The dialog's boxes, recorded.
class RecordingSink : public MessageSink {
public:
    explicit RecordingSink(EventLog& log) : m_log(log) {}
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override
    {
        m_log.Add({"message", std::string(text), std::string(caption), icon});
    }

private:
    EventLog& m_log;
};

// A well-formed response frame as the printer sends it, sequence 0x21.
inline std::vector<std::uint8_t> ResponseBytes(std::uint8_t command, std::string_view data)
{
    const std::vector<std::uint8_t> bytes(data.begin(), data.end());
    return sim::BuildResponse(command, 0x21, bytes).bytes;
}

}  // namespace quillon::testing
