// The narrow view of the desktop that the detector window protocol needs.
// Win32 implements it with the real window, shell and profile calls; tests
// use a fake with a virtual clock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orbalin {

// Opaque handle of a top-level window; kNoWindow when a look-up finds none.
using WindowId = std::uintptr_t;
inline constexpr WindowId kNoWindow = 0;

class Desktop {
public:
    virtual ~Desktop() = default;

    // A top-level window (hidden ones too) of the class with the whole title,
    // compared without regard to letter case. 8-bit texts in the ANSI code page.
    virtual WindowId FindTopLevel(std::string_view className, std::string_view title) = 0;
    // Both calls below wait for the window's thread to handle the message,
    // at most limitMs and not at all when the system deems that thread hung;
    // they return false only then. A window that no longer exists counts as
    // answered: the text is simply lost, as with a window that closes.
    virtual bool SetTitle(WindowId window, std::string_view text, std::uint32_t limitMs) = 0;
    // WM_KEYDOWN with the given virtual-key code.
    virtual bool SendKeyDown(WindowId window, unsigned virtualKey, std::uint32_t limitMs) = 0;
    // Asks the shell to open the path (verb "open", shown normally).
    virtual void Open(std::string_view path) = 0;
    // A value of the user's profile file (WIN.INI); empty when missing.
    virtual std::string ReadProfileString(std::string_view section, std::string_view key) = 0;

    // Monotonic milliseconds; 64 bits, so it never wraps.
    virtual std::uint64_t Now() = 0;
    virtual void Pause(std::uint32_t milliseconds) = 0;

    // A modal information box without owner; 8-bit texts in Windows-1251.
    virtual void ShowMessage(std::string_view text1251, std::string_view caption) = 0;
};

}  // namespace orbalin
