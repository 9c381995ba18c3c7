// Recording fakes of the link's seams, shared by the link tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "response_builder.h"
#include "tool/link/link_owner.h"
#include "tool/link/message_sink.h"

namespace quillon::testing {

// One call on an owner or sink, in the order the calls were made.
struct LinkEvent {
    std::string kind;      // "timer", "response" or "message"
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Information;
};

class EventLog {
public:
    void Add(LinkEvent event)
    {
        std::lock_guard lock(m_lock);
        m_events.push_back(std::move(event));
    }
    std::vector<LinkEvent> Events() const
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
    std::vector<LinkEvent> m_events;
};

class RecordingOwner : public LinkOwner {
public:
    explicit RecordingOwner(EventLog& log) : m_log(log) {}
    void StartResponseTimer() override { m_log.Add({"timer", {}, {}, {}}); }
    void ShowResponse(const char* text) override { m_log.Add({"response", text, {}, {}}); }

private:
    EventLog& m_log;
};

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
