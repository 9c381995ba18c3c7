// The soak and latency runs of link_bench (see link_bench.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace quillon::bench {

// count requests against a simulator started with --soak seed, tracing to
// tracePath (a Windows path). Prints the outcomes by kind and the checks.
int Soak(int count, std::uint64_t seed, const std::string& tracePath);

// count answers at wire speed: from the last byte leaving the simulator (its
// trace, tracePath) to ShowResponse.
int Latency(int count, const std::string& tracePath);

}  // namespace quillon::bench
