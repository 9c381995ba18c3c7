// Hands a heap object to a window's thread through a posted message. The
// message's lParam owns it from a successful post until the receiver takes
// it back; a failed post (the window is gone, the queue is full) frees it at
// once. Whoever removes such a message unread must take it back too, since
// the system discards a destroyed window's messages without looking inside.
#pragma once

#include <windows.h>

#include <memory>

namespace lorvane::win {

template <typename T>
bool PostOwned(HWND window, UINT message, std::unique_ptr<T> object) noexcept
{
    if (!::PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(object.get())))
        return false;
    static_cast<void>(object.release());   // now the message's
    return true;
}

// The object a PostOwned message carries, owned again.
template <typename T>
[[nodiscard]] std::unique_ptr<T> TakePosted(LPARAM lParam) noexcept
{
    return std::unique_ptr<T>(reinterpret_cast<T*>(lParam));
}

}  // namespace lorvane::win
