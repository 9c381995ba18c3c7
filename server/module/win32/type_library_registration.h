// Registering and unregistering the type library that Orbalin.dll carries
// as its resource TYPELIB 1 (or, failing that, a ".tlb" file beside it).
#pragma once

#include <windows.h>

#include "server/registration/registration_scope.h"

namespace orbalin {

// Registers the type library with its path and help directory, so that it
// can then be loaded by identifier and version 1.0; for the current user
// alone through RegisterTypeLibForUser.
HRESULT RegisterTypeLibrary(HINSTANCE instance, RegistrationScope scope = RegistrationScope::Machine) noexcept;

// Removes the type library's registration (the machine's or the current
// user's) for the target system recorded in the library itself. Returns the
// result of loading the library.
HRESULT UnregisterTypeLibrary(HINSTANCE instance, RegistrationScope scope = RegistrationScope::Machine) noexcept;

}  // namespace orbalin
