// Code pages for tests: a single-byte one that holds the first 256 code
// points (as ISO 8859-1 does) and a double-byte one whose lead bytes are
// those of Shift-JIS.
#pragma once

#include "server/registration/code_page.h"

namespace orbalin::testing {

class SingleByteCodePage final : public CodePage {
public:
    bool IsLeadByte(unsigned char) const override { return false; }
    bool FromWide(std::u16string_view text, std::string& out) const override
    {
        out.clear();
        for (char16_t c : text) {
            if (c > 0xFF)
                return false;
            out.push_back(static_cast<char>(c));
        }
        return true;
    }
};

class DoubleByteCodePage final : public CodePage {
public:
    bool IsLeadByte(unsigned char b) const override { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
    bool FromWide(std::u16string_view text, std::string& out) const override
    {
        return SingleByteCodePage().FromWide(text, out);
    }
};

}  // namespace orbalin::testing
