// The faults of a soak run: one drawn for each request from a seeded
// generator, so the simulator that plays them and the program that checks
// the outcomes draw the same sequence. Portable, no I/O.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quillon::sim {

enum class SoakFault {
    None,
    NoiseBefore,      // stray bytes, then the answer
    NoiseAfter,       // the answer, then stray bytes
    Nak,              // a NAK instead of the answer
    ZeroInFrame,      // a 0x00 among the answer's data, counted in its length
    BadLength,        // the unusable length byte
    WrongCommand,     // answers a command that the request did not carry
    SynThenAnswer,    // SYN bytes, then the answer after the first time-out period
    Late,             // the answer, without SYN, after the time-out
    Silence,          // no answer at all
    UnsolicitedAfter, // the answer, then an unrequested frame before the next request
};

inline constexpr int kSoakFaultKinds = 11;

// Timing of the faults that play out over time, in milliseconds after the request.
inline constexpr std::int64_t kSoakSynEveryMs = 100;
inline constexpr std::int64_t kSoakSynAnswerMs = 650;    // past the first 500 ms period
inline constexpr std::int64_t kSoakLateAnswerMs = 800;   // past the only period
inline constexpr std::int64_t kSoakUnsolicitedMs = 100;  // after the answer

// The fault for the index-th request (0-based) of a run with this seed.
SoakFault SoakFaultFor(std::uint64_t seed, std::uint64_t index);

std::string_view SoakFaultName(SoakFault fault);

// What the tool shows for a request that met the fault.
struct SoakOutcome {
    bool answered;        // an answer text; otherwise the time-out message
    bool unsolicited;     // then the message for a frame that came without a request
    bool addCharMessage;  // the unusable-length message while the frame arrives
};
SoakOutcome ExpectedOutcome(SoakFault fault);

}  // namespace quillon::sim
