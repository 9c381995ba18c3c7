#include "server/object/win32/win32_hand_over_lock.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orbalin {
namespace {

// "Local\": one lock per logon session, where the detector's windows are.
constexpr wchar_t kMutexName[] = L"Local\\Lorvane.Orbalin.DetectorHandOver";

// The in-process part, one per loaded library. A plain flag under a mutex
// rather than a timed mutex: a thread that comes back in while it holds the
// lock (a sent message handled during its own hand-over) then waits out its
// limit and fails, instead of the undefined behaviour of relocking a mutex.
class ProcessTurnstile {
public:
    bool Enter(std::uint32_t limitMs)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (!m_free.wait_for(guard, std::chrono::milliseconds(limitMs), [this] { return !m_taken; }))
            return false;
        m_taken = true;
        return true;
    }
    void Leave()
    {
        {
            const std::lock_guard<std::mutex> guard(m_mutex);
            m_taken = false;
        }
        m_free.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_taken = false;
};

ProcessTurnstile& Turnstile()
{
    static ProcessTurnstile turnstile;
    return turnstile;
}

}  // namespace

Win32HandOverLock::Win32HandOverLock() noexcept : m_mutex(::CreateMutexW(nullptr, FALSE, kMutexName)) {}

bool Win32HandOverLock::Acquire(std::uint32_t limitMs)
{
    const ULONGLONG start = ::GetTickCount64();
    if (!Turnstile().Enter(limitMs))
        return false;
    if (!m_mutex)
        return true;
    const ULONGLONG spent = ::GetTickCount64() - start;
    const DWORD left = spent >= limitMs ? 0 : static_cast<DWORD>(limitMs - spent);
    // WAIT_ABANDONED: the holder ended mid-hand-over; the lock is ours now.
    const DWORD waited = ::WaitForSingleObject(m_mutex.Get(), left);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return true;
    Turnstile().Leave();
    return false;
}

void Win32HandOverLock::Release()
{
    if (m_mutex)
        ::ReleaseMutex(m_mutex.Get());
    Turnstile().Leave();
}

}  // namespace orbalin
