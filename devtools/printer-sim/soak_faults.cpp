#include "devtools/printer-sim/soak_faults.h"

namespace quillon::sim {

namespace {

// splitmix64: the same numbers from every compiler and library, unlike the
// standard distributions.
std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

SoakFault SoakFaultFor(std::uint64_t seed, std::uint64_t index)
{
    return static_cast<SoakFault>(Mix(Mix(seed) ^ index) % kSoakFaultKinds);
}

std::string_view SoakFaultName(SoakFault fault)
{
    switch (fault) {
    case SoakFault::None: return "none";
    case SoakFault::NoiseBefore: return "noise-before";
    case SoakFault::NoiseAfter: return "noise-after";
    case SoakFault::Nak: return "nak";
    case SoakFault::ZeroInFrame: return "zero-in-frame";
    case SoakFault::BadLength: return "bad-length";
    case SoakFault::WrongCommand: return "wrong-command";
    case SoakFault::SynThenAnswer: return "syn-then-answer";
    case SoakFault::Late: return "late";
    case SoakFault::Silence: return "silence";
    case SoakFault::UnsolicitedAfter: return "unsolicited-after";
    }
    return "unknown";
}

SoakOutcome ExpectedOutcome(SoakFault fault)
{
    switch (fault) {
    case SoakFault::None:
    case SoakFault::NoiseBefore:
    case SoakFault::NoiseAfter:
    case SoakFault::WrongCommand:
    case SoakFault::SynThenAnswer:
        return {true, false, false};
    case SoakFault::UnsolicitedAfter:
        return {true, true, false};
    case SoakFault::Late:
        return {false, true, false};
    case SoakFault::BadLength:
        return {false, false, true};
    case SoakFault::Nak:
    case SoakFault::ZeroInFrame:
    case SoakFault::Silence:
        return {false, false, false};
    }
    return {false, false, false};
}

}  // namespace quillon::sim
