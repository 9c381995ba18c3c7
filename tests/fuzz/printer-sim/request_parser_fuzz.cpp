// Arbitrary bytes, in arbitrary pieces and with arbitrary pauses, into the
// simulator's request parser and into the whole simulated printer.
// Checked: every byte is reported exactly once and in order; accepted
// requests are well formed; the printer runs and answers each accepted
// request with exactly one frame that the tool's own assembler takes apart,
// and never sends anything else but NAKs.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "printer.h"
#include "request_parser.h"
#include "tool/link/fiscal_frame.h"

namespace {

using namespace quillon;
using namespace quillon::sim;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class Recorder : public PrinterOutput {
public:
    void Send(std::span<const std::uint8_t> bytes) override { sent.insert(sent.end(), bytes.begin(), bytes.end()); }
    void Trace(const std::string& line) override { Check(!line.empty() && line.find('\n') == std::string::npos); }
    void Ran(const Request&) override { ++ran; }
    std::vector<std::uint8_t> sent;
    std::size_t ran = 0;
};

void CheckFrame(const ReceivedFrame& frame, std::vector<std::uint8_t>& reported, std::vector<std::uint8_t>& commands)
{
    const auto& b = frame.bytes;
    Check(!b.empty());
    reported.insert(reported.end(), b.begin(), b.end());
    if (frame.verdict == Verdict::OutsideFrame) {
        Check(b.size() <= RequestParser::kMaxStrayRun);
        for (const std::uint8_t byte : b)
            Check(byte != FiscalFrame::kStart);
        return;
    }
    Check(b[0] == FiscalFrame::kStart && b.size() <= RequestParser::kMaxFrame);
    if (frame.verdict != Verdict::Good)
        return;
    Check(b.size() >= RequestParser::kMinFrame);
    Check(b.size() == static_cast<std::size_t>(b[1]) - 0x24 + 10);
    Check(b[b.size() - 6] == FiscalFrame::kPostamble && b.back() == FiscalFrame::kEnd);
    Check(ChecksumMatches(b));
    commands.push_back(b[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = data[0] % 16 + 1;
    const std::span<const std::uint8_t> input(data + 1, size - 1);

    RequestParser parser;
    Recorder output;
    PrinterSim printer({}, output, 0);
    std::vector<std::uint8_t> reported;
    std::vector<std::uint8_t> commands;
    std::int64_t now = 0;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        const auto chunk = input.subspan(at, std::min(piece, input.size() - at));
        now += chunk[0] * 2;   // pauses from 0 to 510 ms, some longer than the byte gap
        for (const auto& frame : parser.Feed(chunk, now))
            CheckFrame(frame, reported, commands);
        printer.Receive(chunk, now);
    }
    now += RequestParser::kByteGapMs;
    for (const auto& frame : parser.Expire(now))
        CheckFrame(frame, reported, commands);
    printer.Advance(now);
    Check(!parser.InFrame() && !parser.Deadline() && !printer.NextDeadline());
    Check(reported == std::vector<std::uint8_t>(input.begin(), input.end()));

    // What the printer sent, read as the tool reads it: the answers in order,
    // NAKs between them.
    ResponseFrame response;
    std::size_t answered = 0;
    for (const std::uint8_t byte : output.sent) {
        Check(response.inFrame || byte == FiscalFrame::kStart || byte == FiscalFrame::kNak);
        Check(AddChar(response, byte) == LengthFault::None);
        if (response.complete) {
            Check(answered < commands.size());
            Check(response.command == static_cast<std::int8_t>(commands[answered]));
            ++answered;
            ResetResponseFrame(response);
        }
    }
    Check(!response.inFrame && answered == commands.size() && output.ran == answered);
    return 0;
}
