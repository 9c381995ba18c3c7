// Applies the library's registration script (resource "REGISTRY" 101 of the
// library file) to the registry, with %MODULE% standing for the file's path.
#pragma once

#include <windows.h>

namespace orbalin {

inline constexpr WORD kRegistrationScriptId = 101;

// registerMode true writes the entries, false removes them. Never throws.
HRESULT RunRegistrationScript(HINSTANCE instance, bool registerMode) noexcept;

}  // namespace orbalin
