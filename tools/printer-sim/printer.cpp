#include "printer.h"

#include <algorithm>

#include "tool/link/fiscal_frame.h"
#include "trace_format.h"

namespace quillon::sim {

namespace {

std::string_view FaultName(const ResponseFaults& faults)
{
    if (faults.badLength)
        return "bad-length";
    if (faults.zeroInFrame)
        return "zero-in-frame";
    if (faults.wrongCommand)
        return "wrong-command";
    return {};
}

// The next time of a periodic event. After a stall (a stopped process, a
// loaded machine) the missed ticks are not made up in a burst.
std::int64_t NextTick(std::int64_t previous, std::int64_t period, std::int64_t nowMs)
{
    const std::int64_t next = previous + period;
    return next > nowMs ? next : nowMs + period;
}

std::span<const std::uint8_t> Bytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

PrinterSim::PrinterSim(const PrinterOptions& options, PrinterOutput& output, std::int64_t nowMs)
    : m_options(options), m_output(output), m_nextUnsolicitedMs(nowMs + options.unsolicitedMs)
{
}

void PrinterSim::Receive(std::span<const std::uint8_t> bytes, std::int64_t nowMs)
{
    Advance(nowMs);
    Handle(m_parser.Feed(bytes, nowMs), nowMs);
}

void PrinterSim::Advance(std::int64_t nowMs)
{
    Handle(m_parser.Expire(nowMs), nowMs);
    while (!m_pending.empty() && m_pending.front().dueMs <= nowMs) {
        const Request request = std::move(m_pending.front().request);
        m_pending.pop_front();
        Answer(request);
    }
    if (!m_pending.empty() && m_options.synEveryMs > 0 && m_nextSynMs <= nowMs) {
        m_output.Send(std::span(&FiscalFrame::kSyn, 1));
        m_output.Trace(SynLine());
        m_nextSynMs = NextTick(m_nextSynMs, m_options.synEveryMs, nowMs);
    }
    if (m_options.unsolicitedMs > 0 && m_nextUnsolicitedMs <= nowMs) {
        const std::string data = AnswerData(kUnsolicitedCommand, {}, m_options.taxError);
        const std::string_view fault = FaultName(m_options.faults);
        SendResponse(BuildResponse(kUnsolicitedCommand, m_lastSequence, Bytes(data), m_options.faults),
                     fault.empty() ? std::string("unsolicited") : "unsolicited," + std::string(fault));
        m_nextUnsolicitedMs = NextTick(m_nextUnsolicitedMs, m_options.unsolicitedMs, nowMs);
    }
}

std::optional<std::int64_t> PrinterSim::NextDeadline() const
{
    std::optional<std::int64_t> next = m_parser.Deadline();
    const auto earliest = [&next](std::int64_t t) { next = next ? std::min(*next, t) : t; };
    if (!m_pending.empty()) {
        earliest(m_pending.front().dueMs);
        if (m_options.synEveryMs > 0)
            earliest(m_nextSynMs);
    }
    if (m_options.unsolicitedMs > 0)
        earliest(m_nextUnsolicitedMs);
    return next;
}

void PrinterSim::Handle(const std::vector<ReceivedFrame>& frames, std::int64_t nowMs)
{
    for (const ReceivedFrame& frame : frames) {
        m_output.Trace(ReceivedLine(frame));
        if (frame.verdict == Verdict::OutsideFrame || m_options.silent)
            continue;
        if (frame.verdict != Verdict::Good) {
            SendNak(VerdictName(frame.verdict));
            continue;
        }
        Request request = DecodeRequest(frame);
        m_lastSequence = request.sequence;
        if (m_options.delayMs <= 0 && m_pending.empty()) {
            Answer(request);
            continue;
        }
        if (m_pending.empty())
            m_nextSynMs = nowMs + m_options.synEveryMs;
        m_pending.push_back({nowMs + m_options.delayMs, std::move(request)});
    }
}

void PrinterSim::Answer(const Request& request)
{
    if (m_options.nak) {
        SendNak("nak-mode");
        return;
    }
    const std::string data = AnswerData(request.command, request.data, m_options.taxError);
    SendResponse(BuildResponse(request.command, request.sequence, Bytes(data), m_options.faults),
                 FaultName(m_options.faults));
}

void PrinterSim::SendResponse(const Response& response, std::string_view fault)
{
    if (m_options.noise) {
        m_output.Send(kNoiseBefore);
        m_output.Trace(NoiseLine(kNoiseBefore));
    }
    m_output.Send(response.bytes);
    m_output.Trace(ResponseLine(response, fault));
    if (m_options.noise) {
        m_output.Send(kNoiseAfter);
        m_output.Trace(NoiseLine(kNoiseAfter));
    }
}

void PrinterSim::SendNak(std::string_view reason)
{
    m_output.Send(std::span(&FiscalFrame::kNak, 1));
    m_output.Trace(NakLine(reason));
}

}  // namespace quillon::sim
