// Byte-by-byte reader of request frames as the printer receives them.
// Portable and clock-free: callers pass the time in milliseconds, so tests
// and the fuzz target drive it without a port or real time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillon::sim {

enum class Verdict {
    Good,           // a whole request with a matching checksum
    BadLength,      // the length byte is too small or the 0x05 is not where it puts it
    BadChecksum,    // the checksum characters do not match the bytes
    BadEnd,         // the byte after the checksum is not 0x03
    Incomplete,     // the sender stopped in the middle of a request
    OutsideFrame,   // stray bytes between requests
};

struct ReceivedFrame {
    std::vector<std::uint8_t> bytes;   // exactly as received, from the 0x01 on
    Verdict verdict = Verdict::Good;
};

// Command, sequence byte and data of a request; only valid for a Good frame.
struct Request {
    std::uint8_t sequence = 0;
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;
};

Request DecodeRequest(const ReceivedFrame& frame);

// True when the four characters before the last byte are the checksum of the
// bytes from the length byte up to them (the rule shared by both directions).
bool ChecksumMatches(std::span<const std::uint8_t> frame);

class RequestParser {
public:
    // A request that stops for this long is given up; at 9600 baud the gap
    // between the bytes of one request is about a millisecond.
    static constexpr std::int64_t kByteGapMs = 200;
    static constexpr std::size_t kMinFrame = 10;    // request without data
    static constexpr std::size_t kMaxFrame = 229;   // length byte 0xFF: 219 data bytes
    static constexpr std::size_t kMaxStrayRun = 256;   // keeps each trace line short

    // Takes bytes that arrived at nowMs; returns the frames and stray runs they finish.
    std::vector<ReceivedFrame> Feed(std::span<const std::uint8_t> bytes, std::int64_t nowMs);

    // Gives up a request that has waited kByteGapMs for its next byte.
    std::vector<ReceivedFrame> Expire(std::int64_t nowMs);

    // When Expire has something to do, if a request is under way.
    std::optional<std::int64_t> Deadline() const;

    bool InFrame() const { return !m_frame.empty(); }

private:
    void Step(std::uint8_t byte, std::vector<ReceivedFrame>& out);
    void Finish(std::vector<ReceivedFrame>& out);
    void Reject(Verdict verdict, std::vector<ReceivedFrame>& out);
    void FlushStray(std::vector<ReceivedFrame>& out);

    std::vector<std::uint8_t> m_frame;   // the request under way, empty between requests
    std::vector<std::uint8_t> m_stray;   // bytes outside a request, reported as one run
    std::int64_t m_lastByteMs = 0;
};

}  // namespace quillon::sim
