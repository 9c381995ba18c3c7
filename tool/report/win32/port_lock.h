// The per-port lock of quillon-report on Windows: a named mutex in the
// global namespace, so that runs of every account and session (a scheduled
// task as SYSTEM, a person at the till) take turns at one port.
#pragma once

#include <windows.h>

#include <string>

#include "common/win/unique_any.h"
#include "tool/report/report_program.h"

namespace quillon::report {

// Releases the port's mutex when the run lets the port go.
struct HeldMutexTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept
    {
        ::ReleaseMutex(h);
        ::CloseHandle(h);
    }
};
using HeldPortLock = lorvane::win::UniqueAny<HeldMutexTraits>;

// The mutex's name for a port's canonical name ("COM12").
std::wstring PortLockName(const std::string& port);

// Takes the lock of the port at once, or fails with Busy (another run holds
// it, or its maker's rights keep us out) or CannotOpen.
bool TakePortLock(const std::string& port, HeldPortLock& held, OpenResult& result);

}  // namespace quillon::report
