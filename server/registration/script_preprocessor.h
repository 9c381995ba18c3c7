// Replaces %NAME% in a registration script with values from a map.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/registration/code_page.h"
#include "server/registration/status.h"

namespace orbalin {

// Names match regardless of (ASCII) case; values are wide strings that are
// converted to the code page when they are put into the text.
class ReplacementMap {
public:
    void Add(std::string name, std::u16string value);
    const std::u16string* Find(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::u16string>> m_pairs;
};

// Names of this many bytes or more are refused.
inline constexpr std::size_t kMaxReplacementName = 32;

// "%%" gives "%"; "%name%" gives the name's value. Two-byte characters of the
// code page are copied whole, so a trail byte is never taken for a "%".
// Failed: a name of 32 bytes or more. DispatchException: an unknown name or
// an unclosed "%". NoUnicodeTranslation: a value the code page cannot carry
// exactly. OutOfMemory: the output cannot grow.
Status PreprocessScript(std::string_view text, const ReplacementMap& map, const CodePage& codePage,
                        std::string& output);

}  // namespace orbalin
