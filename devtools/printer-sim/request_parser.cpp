#include "devtools/printer-sim/request_parser.h"

#include <algorithm>

#include "tool/link/fiscal_frame.h"

namespace quillon::sim {

namespace {

constexpr std::uint8_t kMinLengthByte = FiscalFrame::kLengthBias + 4;   // no data

std::size_t FrameSizeFor(std::uint8_t lengthByte)
{
    return static_cast<std::size_t>(lengthByte - kMinLengthByte) + FiscalFrame::kRequestOverhead;
}

}  // namespace

bool ChecksumMatches(std::span<const std::uint8_t> frame)
{
    if (frame.size() < 2 + FiscalFrame::kChecksumChars)
        return false;
    const std::size_t charsAt = frame.size() - 1 - FiscalFrame::kChecksumChars;
    const auto expected = ChecksumChars(FrameChecksum(frame.data() + 1, charsAt - 1));
    return std::equal(expected.begin(), expected.end(), frame.begin() + static_cast<std::ptrdiff_t>(charsAt));
}

Request DecodeRequest(const ReceivedFrame& frame)
{
    Request request;
    const auto& b = frame.bytes;
    if (b.size() < RequestParser::kMinFrame)
        return request;
    request.sequence = b[2];
    request.command = b[3];
    request.data.assign(b.begin() + 4, b.end() - 6);
    return request;
}

std::vector<ReceivedFrame> RequestParser::Feed(std::span<const std::uint8_t> bytes, std::int64_t nowMs)
{
    std::vector<ReceivedFrame> out = Expire(nowMs);
    for (const std::uint8_t byte : bytes)
        Step(byte, out);
    if (!bytes.empty())
        m_lastByteMs = nowMs;
    // Stray bytes are reported per delivery so that a trace line follows them promptly.
    FlushStray(out);
    return out;
}

std::vector<ReceivedFrame> RequestParser::Expire(std::int64_t nowMs)
{
    std::vector<ReceivedFrame> out;
    // Rejecting rescans the bytes after the 0x01, which may leave a shorter
    // request under way with the same age; each round removes at least one byte.
    while (InFrame() && nowMs - m_lastByteMs >= kByteGapMs)
        Reject(Verdict::Incomplete, out);
    FlushStray(out);
    return out;
}

std::optional<std::int64_t> RequestParser::Deadline() const
{
    if (!InFrame())
        return std::nullopt;
    return m_lastByteMs + kByteGapMs;
}

void RequestParser::Step(std::uint8_t byte, std::vector<ReceivedFrame>& out)
{
    if (m_frame.empty()) {
        if (byte == FiscalFrame::kStart) {
            FlushStray(out);
            m_frame.push_back(byte);
        } else {
            m_stray.push_back(byte);
            if (m_stray.size() == kMaxStrayRun)
                FlushStray(out);
        }
        return;
    }
    m_frame.push_back(byte);
    if (m_frame.size() == 2 && byte < kMinLengthByte) {
        Reject(Verdict::BadLength, out);
        return;
    }
    if (m_frame.size() >= 2 && m_frame.size() == FrameSizeFor(m_frame[1]))
        Finish(out);
}

void RequestParser::Finish(std::vector<ReceivedFrame>& out)
{
    const std::size_t size = m_frame.size();
    if (m_frame[size - 6] != FiscalFrame::kPostamble)
        Reject(Verdict::BadLength, out);
    else if (m_frame[size - 1] != FiscalFrame::kEnd)
        Reject(Verdict::BadEnd, out);
    else if (!ChecksumMatches(m_frame))
        Reject(Verdict::BadChecksum, out);
    else {
        out.push_back({std::move(m_frame), Verdict::Good});
        m_frame.clear();
    }
}

// Ends the request under way as corrupt. A request whose length byte was
// damaged may have swallowed the start of the next one, so the bytes from the
// next 0x01 on are read again instead of being lost with the corrupt frame.
void RequestParser::Reject(Verdict verdict, std::vector<ReceivedFrame>& out)
{
    const auto restart = std::find(m_frame.begin() + 1, m_frame.end(), FiscalFrame::kStart);
    std::vector<std::uint8_t> rest(restart, m_frame.end());
    m_frame.erase(restart, m_frame.end());
    out.push_back({std::move(m_frame), verdict});
    m_frame.clear();
    for (const std::uint8_t byte : rest)
        Step(byte, out);
}

void RequestParser::FlushStray(std::vector<ReceivedFrame>& out)
{
    if (m_stray.empty())
        return;
    out.push_back({std::move(m_stray), Verdict::OutsideFrame});
    m_stray.clear();
}

}  // namespace quillon::sim
