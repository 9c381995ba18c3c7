// The system's 8-bit code page as the script needs it: which bytes lead a
// two-byte character, and how a wide string becomes 8-bit text.
#pragma once

#include <string>
#include <string_view>

namespace orbalin {

class CodePage {
public:
    virtual ~CodePage() = default;
    virtual bool IsLeadByte(unsigned char byte) const = 0;
    // False when the code page cannot carry the text exactly: a look-alike
    // or a default character would turn a path into another one.
    virtual bool FromWide(std::u16string_view text, std::string& out) const = 0;
};

}  // namespace orbalin
