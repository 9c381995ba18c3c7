// The simulated printer's behaviour: reads requests, answers them, and plays
// the faults that it was started with. Portable and clock-free: the program
// passes in the time and sends what comes out through PrinterOutput.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devtools/printer-sim/request_parser.h"
#include "devtools/printer-sim/response_builder.h"

namespace quillon::sim {

// Damage done to the first try of a request only; the same bytes sent again
// (a retry) are taken as usual. Models a line that drops or garbles one frame.
enum class FirstTryFault {
    None,
    Lose,      // run the command, send nothing back
    Damage,    // run the command, send the answer with a wrong checksum
    Nak,       // send NAK: the printer did not take the request and runs nothing
    Swallow,   // the request never reaches the printer: nothing runs, nothing is sent
};

// "lose", "damage", "nak", "swallow" (the option's values), "none".
std::string_view FirstTryFaultName(FirstTryFault fault);
std::optional<FirstTryFault> FirstTryFaultNamed(std::string_view name);

struct PrinterOptions {
    std::int64_t delayMs = 0;        // wait before each answer
    std::int64_t synEveryMs = 0;     // SYN period while an answer waits
    std::int64_t unsolicitedMs = 0;  // period of unrequested responses, 0 = none
    bool silent = false;             // answer nothing, not even a NAK
    bool nak = false;                // answer every request with NAK
    bool noise = false;              // stray bytes before and after each response
    bool taxError = false;           // command 50 answers "F"
    bool longestAnswer = false;      // every answer carries the most data a frame allows
    // A request with the sequence byte of the one before it gets that one's
    // response again, from memory, without running the command twice.
    bool repeatMemory = false;
    // The memory starts as if an X report (69 "3") with this sequence byte
    // had just run, as a printer left by an earlier program.
    std::optional<std::uint8_t> lastSequence;
    // The line hears itself: every frame received goes back out at once.
    bool echo = false;
    FirstTryFault firstTry = FirstTryFault::None;
    std::optional<std::uint8_t> firstTryCommand;   // only this command meets firstTry
    ResponseFaults faults;
    // A soak run: one fault for each request, drawn from this seed (see
    // soak_faults.h); the per-request fault options above are then unused.
    std::optional<std::uint64_t> soakSeed;
};

class PrinterOutput {
public:
    virtual ~PrinterOutput() = default;
    virtual void Send(std::span<const std::uint8_t> bytes) = 0;
    virtual void Trace(const std::string& line) = 0;   // without time stamp or line end
    // A request that the printer runs, told before its answer goes out;
    // repeats answered from memory are not run.
    virtual void Ran(const Request& request) = 0;
};

class PrinterSim {
public:
    // Noise that --noise puts around a response: never 0x01, 0x15 or 0x16,
    // so the tool must skip it without taking it for a frame or a control byte.
    static constexpr std::uint8_t kNoiseBefore[] = {0xFF, 0x7E, 0x20, 0x55};
    static constexpr std::uint8_t kNoiseAfter[] = {0x0D, 0x0A, 0xAA};
    static constexpr std::uint8_t kUnsolicitedCommand = PrinterCommand::kDailyFinancial;
    // The fault= name of a response sent again from memory (--repeat-memory).
    static constexpr std::string_view kFromMemory = "from-memory";
    // The fault= name of an answer damaged on its first try.
    static constexpr std::string_view kDamaged = "damaged";

    PrinterSim(const PrinterOptions& options, PrinterOutput& output, std::int64_t nowMs);

    // Bytes that arrived from the line at nowMs.
    void Receive(std::span<const std::uint8_t> bytes, std::int64_t nowMs);

    // Runs what is due at nowMs: delayed answers, SYN bytes, unsolicited frames,
    // requests that stopped half-way.
    void Advance(std::int64_t nowMs);

    // The earliest time at which Advance has something to do.
    std::optional<std::int64_t> NextDeadline() const;

private:
    // How one request is answered.
    struct AnswerPlan {
        bool answer = true;          // false: silence
        std::int64_t delayMs = 0;
        std::int64_t synEveryMs = 0;
        bool nak = false;
        bool noiseBefore = false;
        bool noiseAfter = false;
        bool unsolicitedAfter = false;
        bool repeatMemory = false;
        FirstTryFault firstTry = FirstTryFault::None;
        ResponseFaults faults;
    };
    // The last request answered with a frame, for --repeat-memory.
    struct AnsweredRequest {
        std::uint8_t sequence;
        Response response;
    };
    struct PendingAnswer {
        std::int64_t dueMs;
        Request request;
        AnswerPlan plan;
    };

    // An unrequested frame due at dueMs, stamped with the byte of the request it follows.
    struct DueUnsolicited {
        std::int64_t dueMs;
        std::uint8_t sequence;
    };

    void Handle(const std::vector<ReceivedFrame>& frames, std::int64_t nowMs);
    void Take(const ReceivedFrame& frame, std::int64_t nowMs);
    AnswerPlan PlanFor(const Request& request, bool retry);
    void Answer(const Request& request, const AnswerPlan& plan, std::int64_t nowMs);
    const Response* Recall(const Request& request, const AnswerPlan& plan) const;
    Response Run(const Request& request, const AnswerPlan& plan);
    void Deliver(const Response& response, std::string fault, const AnswerPlan& plan);
    void SendUnsolicited(std::uint8_t sequence);
    void SendResponse(const Response& response, std::string_view fault, bool noiseBefore, bool noiseAfter);
    void SendNak(std::string_view reason);

    PrinterOptions m_options;
    PrinterOutput& m_output;
    RequestParser m_parser;
    std::deque<PendingAnswer> m_pending;
    std::int64_t m_nextSynMs = 0;
    std::int64_t m_nextUnsolicitedMs = 0;
    std::uint8_t m_lastSequence = 0x20;
    std::uint64_t m_soakIndex = 0;
    std::optional<DueUnsolicited> m_soakUnsolicited;
    std::optional<AnsweredRequest> m_memory;
    std::vector<std::uint8_t> m_previousRequest;   // bytes of the last good frame, to tell a retry
};

}  // namespace quillon::sim
