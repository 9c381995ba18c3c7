#include "devtools/printer-sim/trace_format.h"

#include <cstdio>

#include "tool/link/byte_text.h"

namespace quillon::sim {

namespace {

std::string Decoded(std::uint8_t command, std::uint8_t sequence,
                    std::span<const std::uint8_t> data, bool checksumGood)
{
    return FrameFields(command, sequence, data) + " checksum=" + (checksumGood ? "good" : "bad");
}

}  // namespace

std::string_view VerdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Good: return "good";
    case Verdict::BadLength: return "length";
    case Verdict::BadChecksum: return "checksum";
    case Verdict::BadEnd: return "end";
    case Verdict::Incomplete: return "incomplete";
    case Verdict::OutsideFrame: return "outside-frame";
    }
    return "unknown";
}

std::string ReceivedLine(const ReceivedFrame& frame)
{
    const auto& b = frame.bytes;
    const bool checksumGood = ChecksumMatches(b);
    if (frame.verdict == Verdict::Good) {
        const Request r = DecodeRequest(frame);
        return "RX " + HexBytes(b) + " | " + Decoded(r.command, r.sequence, r.data, checksumGood);
    }
    std::string line = "RX BAD " + HexBytes(b) + " | ";
    // A frame that ran its full length can still be read, which helps to see what broke.
    if (frame.verdict != Verdict::OutsideFrame && b.size() >= RequestParser::kMinFrame) {
        const Request r = DecodeRequest(frame);
        line += Decoded(r.command, r.sequence, r.data, checksumGood) + " ";
    }
    return line + "reason=" + std::string(VerdictName(frame.verdict));
}

std::string ResponseLine(const Response& response, std::string_view fault)
{
    std::string line = "TX " + HexBytes(response.bytes) + " | "
        + Decoded(response.command, response.sequence, response.data, ChecksumMatches(response.bytes));
    if (!fault.empty())
        line += " fault=" + std::string(fault);
    return line;
}

std::string NakLine(std::string_view reason)
{
    return "TX NAK 15 | reason=" + std::string(reason);
}

std::string SynLine()
{
    return "TX SYN 16";
}

std::string NoiseLine(std::span<const std::uint8_t> bytes)
{
    return "TX NOISE " + HexBytes(bytes);
}

std::string SoakLine(std::uint64_t index, std::string_view fault)
{
    return "SOAK request=" + std::to_string(index) + " fault=" + std::string(fault);
}

std::string RunLine(const Request& request)
{
    return "RUN " + FrameFields(request.command, request.sequence, request.data);
}

std::string FirstTryLine(std::string_view fault, const Request& request)
{
    return "FIRST-TRY fault=" + std::string(fault) + " cmd=" + std::to_string(request.command) + " seq=0x"
        + HexByte(request.sequence);
}

std::string EchoLine(std::span<const std::uint8_t> bytes)
{
    return "TX ECHO " + HexBytes(bytes);
}

std::string WireTimes(std::int64_t firstUs, std::int64_t lastUs)
{
    char text[80];
    std::snprintf(text, sizeof text, " first=%lld.%06lld last=%lld.%06lld", static_cast<long long>(firstUs / 1'000'000),
                  static_cast<long long>(firstUs % 1'000'000), static_cast<long long>(lastUs / 1'000'000),
                  static_cast<long long>(lastUs % 1'000'000));
    return text;
}

}  // namespace quillon::sim
