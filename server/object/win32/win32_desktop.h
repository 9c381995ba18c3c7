// The Desktop seam over the real Win32 window, shell and profile calls.
#pragma once

#include "server/protocol/desktop.h"

namespace orbalin {

class Win32Desktop final : public Desktop {
public:
    WindowId FindTopLevel(std::string_view className, std::string_view title) override;
    bool SetTitle(WindowId window, std::string_view text, std::uint32_t limitMs) override;
    bool SendKeyDown(WindowId window, unsigned virtualKey, std::uint32_t limitMs) override;
    void Open(std::string_view path) override;
    std::string ReadProfileString(std::string_view section, std::string_view key) override;
    std::uint64_t Now() override;
    void Pause(std::uint32_t milliseconds) override;
    void ShowMessage(std::string_view text1251, std::string_view caption) override;
};

}  // namespace orbalin
