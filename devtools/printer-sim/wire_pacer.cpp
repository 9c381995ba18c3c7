#include "devtools/printer-sim/wire_pacer.h"

#include <algorithm>

namespace quillon::sim {

std::int64_t ByteTimeUs(std::int64_t baud)
{
    return baud > 0 ? (10 * 1'000'000 + baud / 2) / baud : 0;
}

void WirePacer::Queue(std::span<const std::uint8_t> bytes)
{
    if (!bytes.empty())
        m_chunks.push_back({{bytes.begin(), bytes.end()}, {}, 0, 0});
}

void WirePacer::AttachTrace(const std::string& line)
{
    if (!m_chunks.empty())
        m_chunks.back().trace = line;
}

std::optional<std::int64_t> WirePacer::NextDueUs() const
{
    if (m_chunks.empty())
        return std::nullopt;
    return m_lastSentUs ? *m_lastSentUs + m_byteTimeUs : 0;
}

void WirePacer::Release(std::int64_t nowUs, PacedLine& line)
{
    const auto due = NextDueUs();
    if (!due || *due > nowUs)
        return;
    Chunk& chunk = m_chunks.front();
    if (chunk.sent == 0)
        chunk.firstUs = nowUs;
    line.SendByte(chunk.bytes[chunk.sent++]);
    m_lastSentUs = nowUs;
    if (chunk.sent == chunk.bytes.size()) {
        const Chunk done = std::move(chunk);
        m_chunks.pop_front();
        if (!done.trace.empty())
            line.ChunkSent(done.trace, done.firstUs, nowUs);
    }
}

}  // namespace quillon::sim
