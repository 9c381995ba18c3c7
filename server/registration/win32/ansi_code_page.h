// The system ANSI code page (CP_ACP) for the registration script.
#pragma once

#include "server/registration/code_page.h"

namespace orbalin {

class AnsiCodePage final : public CodePage {
public:
    bool IsLeadByte(unsigned char byte) const override;
    bool FromWide(std::u16string_view text, std::string& out) const override;
};

}  // namespace orbalin
