// Recording fakes of the link's seams, shared by the link tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

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

// A well-formed response frame as the printer sends it.
inline std::vector<std::uint8_t> ResponseBytes(std::uint8_t command, std::string_view data)
{
    std::vector<std::uint8_t> bytes{0x01, static_cast<std::uint8_t>(0x20 + data.size() + 11), 0x21, command};
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(0x04);
    for (int i = 0; i < 6; ++i)
        bytes.push_back(static_cast<std::uint8_t>(0x80 + i));
    bytes.push_back(0x05);
    for (std::uint8_t c : {'0', '1', '2', '3'})
        bytes.push_back(c);
    bytes.push_back(0x03);
    return bytes;
}

}  // namespace quillon::testing
