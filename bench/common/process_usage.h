// Handle count and private bytes of the running process, for the soak
// benchmarks' before-and-after figures.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>

namespace lorvane::bench {

struct ProcessUsage {
    DWORD handles = 0;
    std::uint64_t privateBytes = 0;
};

// Wine answers GetProcessHandleCount with 0: then the handle values are
// probed one by one (Wine hands them out from 4 upwards in steps of 4).
inline DWORD HandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
        return count;
    constexpr ULONG_PTR kHighestProbed = 1 << 18;
    for (ULONG_PTR value = 4; value < kHighestProbed; value += 4) {
        DWORD flags = 0;
        count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

inline ProcessUsage CurrentUsage()
{
    ProcessUsage usage;
    usage.handles = HandleCount();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    // Private bytes are the commit charge; Wine leaves PrivateUsage at 0 and
    // reports the commit charge as PagefileUsage, which Windows also documents
    // as the process's private commit.
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof memory))
        usage.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    return usage;
}

inline long HandleGrowth(const ProcessUsage& start, const ProcessUsage& end)
{
    return static_cast<long>(end.handles) - static_cast<long>(start.handles);
}

inline long long MemoryGrowthKiB(const ProcessUsage& start, const ProcessUsage& end)
{
    return (static_cast<long long>(end.privateBytes) - static_cast<long long>(start.privateBytes)) / 1024;
}

inline void PrintUsage(const char* when, const ProcessUsage& usage)
{
    std::printf("%s: %lu handles, %llu KiB private\n", when, usage.handles,
                static_cast<unsigned long long>(usage.privateBytes / 1024));
}

}  // namespace lorvane::bench
