#include "devtools/printer-sim/printer.h"

#include <algorithm>
#include <utility>

#include "devtools/printer-sim/soak_faults.h"
#include "devtools/printer-sim/trace_format.h"
#include "tool/link/fiscal_frame.h"

namespace quillon::sim {

namespace {

// The names of the faults applied, joined by commas; empty for none.
std::string FaultName(const ResponseFaults& faults)
{
    const std::pair<bool, std::string_view> named[] = {
        {faults.badLength, "bad-length"},       {faults.zeroInFrame, "zero-in-frame"},
        {faults.wrongCommand, "wrong-command"}, {faults.badChecksum, "bad-checksum"},
        {faults.wrongSequence, "wrong-sequence"},
    };
    std::string names;
    for (const auto& [applied, name] : named) {
        if (!applied)
            continue;
        if (!names.empty())
            names += ',';
        names += name;
    }
    return names;
}

// The next time of a periodic event. After a stall (a stopped process, a
// loaded machine) the missed ticks are not made up in a burst.
std::int64_t NextTick(std::int64_t previous, std::int64_t period, std::int64_t nowMs)
{
    const std::int64_t next = previous + period;
    return next > nowMs ? next : nowMs + period;
}

std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The answer as a line that garbles one bit delivers it: the last checksum
// character changed, still within 0x30 to 0x3F, so only the sum tells.
Response Damaged(Response response)
{
    response.bytes[response.bytes.size() - 2] ^= 0x01;
    return response;
}

constexpr std::pair<FirstTryFault, std::string_view> kFirstTryNames[] = {
    {FirstTryFault::Lose, "lose"}, {FirstTryFault::Damage, "damage"},
    {FirstTryFault::Nak, "nak"},   {FirstTryFault::Swallow, "swallow"},
};

}  // namespace

std::string_view FirstTryFaultName(FirstTryFault fault)
{
    const auto named = std::ranges::find(kFirstTryNames, fault, &std::pair<FirstTryFault, std::string_view>::first);
    return named == std::end(kFirstTryNames) ? "none" : named->second;
}

std::optional<FirstTryFault> FirstTryFaultNamed(std::string_view name)
{
    const auto named = std::ranges::find(kFirstTryNames, name, &std::pair<FirstTryFault, std::string_view>::second);
    return named == std::end(kFirstTryNames) ? std::nullopt : std::optional(named->first);
}

PrinterSim::PrinterSim(const PrinterOptions& options, PrinterOutput& output, std::int64_t nowMs)
    : m_options(options), m_output(output), m_nextUnsolicitedMs(nowMs + options.unsolicitedMs)
{
    if (options.lastSequence) {
        constexpr std::uint8_t kCommand = PrinterCommand::kDailyFinancial;
        const std::uint8_t sequence = *options.lastSequence;
        const std::string xReport = AnswerData(kCommand, Bytes("3"), options.taxError);
        m_memory = AnsweredRequest{sequence, BuildResponse(kCommand, sequence, Bytes(xReport), options.faults)};
        m_lastSequence = sequence;
    }
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
        const PendingAnswer pending = std::move(m_pending.front());
        m_pending.pop_front();
        Answer(pending.request, pending.plan, nowMs);
        if (!m_pending.empty())
            m_nextSynMs = nowMs + m_pending.front().plan.synEveryMs;
    }
    if (!m_pending.empty() && m_pending.front().plan.synEveryMs > 0 && m_nextSynMs <= nowMs) {
        m_output.Send(std::span(&FiscalFrame::kSyn, 1));
        m_output.Trace(SynLine());
        m_nextSynMs = NextTick(m_nextSynMs, m_pending.front().plan.synEveryMs, nowMs);
    }
    if (m_soakUnsolicited && m_soakUnsolicited->dueMs <= nowMs) {
        const std::uint8_t sequence = m_soakUnsolicited->sequence;
        m_soakUnsolicited.reset();
        SendUnsolicited(sequence);
    }
    if (m_options.unsolicitedMs > 0 && m_nextUnsolicitedMs <= nowMs) {
        SendUnsolicited(m_lastSequence);
        m_nextUnsolicitedMs = NextTick(m_nextUnsolicitedMs, m_options.unsolicitedMs, nowMs);
    }
}

void PrinterSim::SendUnsolicited(std::uint8_t sequence)
{
    const std::string data = AnswerData(kUnsolicitedCommand, {}, m_options.taxError);
    const ResponseFaults faults = m_options.soakSeed ? ResponseFaults{} : m_options.faults;
    const std::string fault = FaultName(faults);
    SendResponse(BuildResponse(kUnsolicitedCommand, sequence, Bytes(data), faults),
                 fault.empty() ? "unsolicited" : "unsolicited," + fault, false, false);
}

std::optional<std::int64_t> PrinterSim::NextDeadline() const
{
    std::optional<std::int64_t> next = m_parser.Deadline();
    const auto earliest = [&next](std::int64_t t) { next = next ? std::min(*next, t) : t; };
    if (!m_pending.empty()) {
        earliest(m_pending.front().dueMs);
        if (m_pending.front().plan.synEveryMs > 0)
            earliest(m_nextSynMs);
    }
    if (m_soakUnsolicited)
        earliest(m_soakUnsolicited->dueMs);
    if (m_options.unsolicitedMs > 0)
        earliest(m_nextUnsolicitedMs);
    return next;
}

void PrinterSim::Handle(const std::vector<ReceivedFrame>& frames, std::int64_t nowMs)
{
    for (const ReceivedFrame& frame : frames) {
        m_output.Trace(ReceivedLine(frame));
        if (m_options.echo) {
            m_output.Send(frame.bytes);
            m_output.Trace(EchoLine(frame.bytes));
        }
        if (frame.verdict == Verdict::OutsideFrame || m_options.silent)
            continue;
        if (frame.verdict != Verdict::Good) {
            SendNak(VerdictName(frame.verdict));
            continue;
        }
        Take(frame, nowMs);
    }
}

void PrinterSim::Take(const ReceivedFrame& frame, std::int64_t nowMs)
{
    Request request = DecodeRequest(frame);
    m_lastSequence = request.sequence;
    // A retry is the same bytes again: a client that lost the answer sends
    // the request unchanged, sequence byte included.
    const bool retry = frame.bytes == m_previousRequest;
    m_previousRequest = frame.bytes;
    const AnswerPlan plan = PlanFor(request, retry);
    if (plan.firstTry == FirstTryFault::Swallow) {
        m_output.Trace(FirstTryLine(FirstTryFaultName(plan.firstTry), request));
        return;
    }
    if (!plan.answer)
        return;
    if (plan.delayMs <= 0 && m_pending.empty()) {
        Answer(request, plan, nowMs);
        return;
    }
    if (m_pending.empty())
        m_nextSynMs = nowMs + plan.synEveryMs;
    m_pending.push_back({nowMs + plan.delayMs, std::move(request), plan});
}

PrinterSim::AnswerPlan PrinterSim::PlanFor(const Request& request, bool retry)
{
    AnswerPlan plan;
    if (!m_options.soakSeed) {
        plan.delayMs = m_options.delayMs;
        plan.synEveryMs = m_options.synEveryMs;
        plan.nak = m_options.nak;
        plan.noiseBefore = plan.noiseAfter = m_options.noise;
        plan.repeatMemory = m_options.repeatMemory;
        plan.faults = m_options.faults;
        if (!retry && (!m_options.firstTryCommand || *m_options.firstTryCommand == request.command))
            plan.firstTry = m_options.firstTry;
        return plan;
    }
    const std::uint64_t index = m_soakIndex++;
    const SoakFault fault = SoakFaultFor(*m_options.soakSeed, index);
    m_output.Trace(SoakLine(index, SoakFaultName(fault)));
    switch (fault) {
    case SoakFault::None: break;
    case SoakFault::NoiseBefore: plan.noiseBefore = true; break;
    case SoakFault::NoiseAfter: plan.noiseAfter = true; break;
    case SoakFault::Nak: plan.nak = true; break;
    case SoakFault::ZeroInFrame: plan.faults.zeroInFrame = true; break;
    case SoakFault::BadLength: plan.faults.badLength = true; break;
    case SoakFault::WrongCommand: plan.faults.wrongCommand = true; break;
    case SoakFault::SynThenAnswer:
        plan.delayMs = kSoakSynAnswerMs;
        plan.synEveryMs = kSoakSynEveryMs;
        break;
    case SoakFault::Late: plan.delayMs = kSoakLateAnswerMs; break;
    case SoakFault::Silence: plan.answer = false; break;
    case SoakFault::UnsolicitedAfter: plan.unsolicitedAfter = true; break;
    }
    return plan;
}

void PrinterSim::Answer(const Request& request, const AnswerPlan& plan, std::int64_t nowMs)
{
    if (plan.nak) {
        m_memory.reset();
        SendNak("nak-mode");
        return;
    }
    if (plan.firstTry != FirstTryFault::None)
        m_output.Trace(FirstTryLine(FirstTryFaultName(plan.firstTry), request));
    if (plan.firstTry == FirstTryFault::Nak) {
        SendNak("first-try");   // not taken: nothing runs and the memory stays
        return;
    }
    if (const Response* remembered = Recall(request, plan)) {
        Deliver(*remembered, std::string(kFromMemory), plan);
        return;
    }
    Deliver(Run(request, plan), FaultName(plan.faults), plan);
    if (plan.unsolicitedAfter)
        m_soakUnsolicited = DueUnsolicited{nowMs + kSoakUnsolicitedMs, request.sequence};
}

const Response* PrinterSim::Recall(const Request& request, const AnswerPlan& plan) const
{
    // Answers go out in the order the requests came, so the memory holds the
    // previous request's response: the client lost it and asks again.
    if (plan.repeatMemory && m_memory && m_memory->sequence == request.sequence)
        return &m_memory->response;
    return nullptr;
}

Response PrinterSim::Run(const Request& request, const AnswerPlan& plan)
{
    m_output.Ran(request);
    m_output.Trace(RunLine(request));
    std::string data = AnswerData(request.command, request.data, m_options.taxError);
    if (m_options.longestAnswer)
        data.resize(ResponseLayout::kMaxData, '0');
    Response response = BuildResponse(request.command, request.sequence, Bytes(data), plan.faults);
    if (plan.repeatMemory)
        m_memory = AnsweredRequest{request.sequence, response};
    return response;
}

void PrinterSim::Deliver(const Response& response, std::string fault, const AnswerPlan& plan)
{
    if (plan.firstTry == FirstTryFault::Lose)
        return;
    if (plan.firstTry == FirstTryFault::Damage) {
        fault += fault.empty() ? kDamaged : "," + std::string(kDamaged);
        SendResponse(Damaged(response), fault, plan.noiseBefore, plan.noiseAfter);
        return;
    }
    SendResponse(response, fault, plan.noiseBefore, plan.noiseAfter);
}

void PrinterSim::SendResponse(const Response& response, std::string_view fault, bool noiseBefore, bool noiseAfter)
{
    if (noiseBefore) {
        m_output.Send(kNoiseBefore);
        m_output.Trace(NoiseLine(kNoiseBefore));
    }
    m_output.Send(response.bytes);
    m_output.Trace(ResponseLine(response, fault));
    if (noiseAfter) {
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
