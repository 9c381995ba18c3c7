// Sends the simulator's output at the pace of a serial line: every byte a
// fixed byte time after the one before it. Portable and clock-free: the
// program passes in the time, in microseconds of a monotonic clock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::sim {

// Ten bits a byte on an 8N1 line (start bit, eight data bits, stop bit).
std::int64_t ByteTimeUs(std::int64_t baud);

class PacedLine {
public:
    virtual ~PacedLine() = default;
    virtual void SendByte(std::uint8_t byte) = 0;
    // A chunk's last byte has gone: its trace line, with the times of its
    // first and last byte.
    virtual void ChunkSent(const std::string& traceLine, std::int64_t firstUs, std::int64_t lastUs) = 0;
};

class WirePacer {
public:
    explicit WirePacer(std::int64_t byteTimeUs) : m_byteTimeUs(byteTimeUs) {}

    // Queues a chunk (a frame, a control byte, noise) behind what is queued.
    void Queue(std::span<const std::uint8_t> bytes);
    // The trace line of the chunk queued last, written when its last byte goes.
    void AttachTrace(const std::string& line);

    // Sends at most one byte, if one is due at nowUs. A late byte goes at
    // once, and the next one a whole byte time after it: the line never
    // bursts to catch up.
    void Release(std::int64_t nowUs, PacedLine& line);
    std::optional<std::int64_t> NextDueUs() const;
    bool Idle() const { return m_chunks.empty(); }

private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::string trace;
        std::size_t sent = 0;
        std::int64_t firstUs = 0;
    };

    std::int64_t m_byteTimeUs;
    std::deque<Chunk> m_chunks;
    std::optional<std::int64_t> m_lastSentUs;
};

}  // namespace quillon::sim
