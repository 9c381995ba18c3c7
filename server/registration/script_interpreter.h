// Applies a registration script to a registry: in register mode it makes the
// keys and values the script describes, in unregister mode it walks the same
// text and removes them.
#pragma once

#include <cstddef>
#include <string_view>

#include "server/registration/code_page.h"
#include "server/registration/registry.h"
#include "server/registration/script_preprocessor.h"
#include "server/registration/status.h"

namespace orbalin {

enum class ScriptMode { Register, Unregister };

inline constexpr std::size_t kMaxTokenLength = 4094;
// Blocks nested deeper than this are refused, so no text can exhaust the stack.
inline constexpr int kMaxBlockDepth = 64;

// Interprets a preprocessed script. In register mode a failing root block
// takes back the keys it created (and only those); the failure is returned
// either way.
Status InterpretScript(std::string_view text, ScriptMode mode, Registry& registry);

// Preprocesses then interprets. The text ends at its first zero byte, if any.
Status ApplyRegistrationScript(std::string_view text, ScriptMode mode, const ReplacementMap& map,
                               const CodePage& codePage, Registry& registry);

}  // namespace orbalin
