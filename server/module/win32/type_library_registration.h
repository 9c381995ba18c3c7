// Registering and unregistering the type library that Orbalin.dll carries
// as its resource TYPELIB 1 (or, failing that, a ".tlb" file beside it).
#pragma once

#include <windows.h>

namespace orbalin {

// Registers the type library with its path and help directory, so that it
// can then be loaded by identifier and version 1.0.
HRESULT RegisterTypeLibrary(HINSTANCE instance) noexcept;

// Removes the type library's registration for the target system recorded in
// the library itself. Returns the result of loading the library.
HRESULT UnregisterTypeLibrary(HINSTANCE instance) noexcept;

}  // namespace orbalin
