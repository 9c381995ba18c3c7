// A scripted serial line and a clock that only moves when the line waits,
// so the report wait runs without real time passing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "response_builder.h"
#include "tool/link/link_settings.h"
#include "tool/report/report_program.h"

namespace quillon::report::testing {

class FakeClock : public Clock {
public:
    std::int64_t NowMs() override { return now; }
    std::int64_t now = 1000;
};

class FakeLine : public SerialLine {
public:
    struct Arrival {
        std::int64_t atMs;
        std::uint8_t byte;
    };
    // Given what was written and when, returns the printer's bytes to queue.
    using Responder = std::function<void(FakeLine&, std::span<const std::uint8_t>)>;

    explicit FakeLine(FakeClock& clock) : m_clock(clock) {}

    // Queues bytes to arrive afterMs from now, one every byteGapMs.
    void Send(std::int64_t afterMs, const std::vector<std::uint8_t>& bytes, std::int64_t byteGapMs = 0)
    {
        std::int64_t at = m_clock.now + afterMs;
        for (std::uint8_t b : bytes) {
            m_arrivals.push_back({at, b});
            at += byteGapMs;
        }
    }

    bool Write(std::span<const std::uint8_t> bytes) override
    {
        written.insert(written.end(), bytes.begin(), bytes.end());
        if (responder)
            responder(*this, bytes);
        return writeSucceeds;
    }

    ReadResult ReadByte(std::uint8_t& byte) override
    {
        ++reads;
        if (!m_arrivals.empty() && m_arrivals.front().atMs <= m_clock.now) {
            byte = m_arrivals.front().byte;
            m_arrivals.pop_front();
            return ReadResult::Byte;
        }
        if (failReads)
            return ReadResult::Failed;
        // Waits like the driver: until the next byte, at most one read wait.
        std::int64_t wait = kReadWaitMs;
        if (!m_arrivals.empty())
            wait = std::min<std::int64_t>(wait, m_arrivals.front().atMs - m_clock.now);
        m_clock.now += wait;
        return ReadResult::Nothing;
    }

    void RecoverFromReadFailure() override
    {
        ++recoveries;
        m_clock.now += kReadWaitMs;
    }

    std::vector<std::uint8_t> written;
    Responder responder;
    bool writeSucceeds = true;
    bool failReads = false;
    int reads = 0;
    int recoveries = 0;

private:
    FakeClock& m_clock;
    std::deque<Arrival> m_arrivals;
};

// A response as the printer frames it, with status bytes that tell apart.
inline std::vector<std::uint8_t> Response(std::uint8_t command, std::string_view data, std::uint8_t sequence = 0x21)
{
    const std::vector<std::uint8_t> bytes(data.begin(), data.end());
    return sim::BuildResponse(command, sequence, bytes, {}, {0x80, 0x81, 0x82, 0x83, 0x84, 0x85}).bytes;
}

// A printer that answers every request after delayMs with its command.
inline FakeLine::Responder AnswersAfter(std::int64_t delayMs, std::string data = "P")
{
    return [delayMs, data](FakeLine& line, std::span<const std::uint8_t> request) {
        line.Send(delayMs, Response(request[3], data, request[2]));
    };
}

}  // namespace quillon::report::testing
