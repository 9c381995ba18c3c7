// Code pages for tests: a single-byte one and a double-byte one whose lead
// bytes are those of Shift-JIS.
#pragma once

#include "server/registration/code_page.h"

namespace orbalin::testing {

class SingleByteCodePage final : public CodePage {
public:
    bool IsLeadByte(unsigned char) const override { return false; }
    std::string FromWide(std::u16string_view text) const override
    {
        std::string out;
        for (char16_t c : text)
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
};

class DoubleByteCodePage final : public CodePage {
public:
    bool IsLeadByte(unsigned char b) const override { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
    std::string FromWide(std::u16string_view text) const override { return SingleByteCodePage().FromWide(text); }
};

}  // namespace orbalin::testing
