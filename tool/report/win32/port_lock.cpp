#include "tool/report/win32/port_lock.h"

#include <sddl.h>

#include "common/win/text.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_memory.h"

namespace quillon::report {
namespace {

using lorvane::win::SystemErrorText;
using lorvane::win::UniqueHandle;

// What a run needs of the mutex: wait on it, release it.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Every signed-in account (and so every service account) may wait on the
// lock and release it; only SYSTEM and administrators may change it. With
// the default rights, the lock of a SYSTEM task would shut a person's run
// out with "access denied" instead of making it wait its turn.
constexpr wchar_t kLockRights[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";
static_assert(kLockAccess == 0x00100001, "the rights granted to every account are the run's");

}  // namespace

std::wstring PortLockName(const std::string& port)
{
    return L"Global\\Lorvane.quillon-report." + lorvane::win::WideFromCodePage(port, CP_UTF8);
}

bool TakePortLock(const std::string& port, HeldPortLock& held, OpenResult& result)
{
    lorvane::win::UniqueLocalMemory<void> descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockRights, SDDL_REVISION_1, descriptor.Receive(),
                                                                 nullptr)) {
        result = {OpenStatus::CannotOpen, "cannot describe the port's lock: " + SystemErrorText(::GetLastError())};
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    // Only the rights a run needs, so that a lock made by another account opens.
    UniqueHandle mutex(::CreateMutexExW(&attributes, PortLockName(port).c_str(), 0, kLockAccess));
    if (!mutex) {
        const DWORD error = ::GetLastError();
        // A lock whose maker gave us no rights (an older version's lock, or
        // a name taken by another account) still means the port is in use.
        if (error == ERROR_ACCESS_DENIED)
            result = {OpenStatus::Busy, port + " is locked by another account's program (its lock is closed to us)"};
        else
            result = {OpenStatus::CannotOpen, "cannot make the port's lock: " + SystemErrorText(error)};
        return false;
    }
    const DWORD wait = ::WaitForSingleObject(mutex.Get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {   // abandoned: its holder died, the port is free
        result = {OpenStatus::Busy, port + " is held by another quillon-report run"};
        return false;
    }
    held.Reset(mutex.Take());
    return true;
}

}  // namespace quillon::report
