// The hand-over lock of a logon session: an in-process lock for the threads
// of this program, then a named mutex for the other programs that load the
// server (both bitnesses share the name).
#pragma once

#include "common/win/unique_handle.h"
#include "server/protocol/hand_over_lock.h"

namespace orbalin {

class Win32HandOverLock final : public HandOverLock {
public:
    // Opens or makes the named mutex. Should that fail, the in-process lock
    // alone still keeps this program's threads apart.
    Win32HandOverLock() noexcept;

    bool Acquire(std::uint32_t limitMs) override;
    void Release() override;

private:
    // Shared by every caller on the object; only the thread that holds the
    // in-process lock touches the mutex, so no state is kept per call.
    lorvane::win::UniqueHandle m_mutex;
};

}  // namespace orbalin
