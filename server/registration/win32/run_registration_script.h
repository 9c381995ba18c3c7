// Applies the library's registration script (resource "REGISTRY" 101 of the
// library file) to the registry, with %MODULE% standing for the file's path.
// The script's HKCR stands for the scope's own hive (classes_hive.h):
// HKLM\Software\Classes for every user, HKCU\Software\Classes for the
// current user alone; the merged HKEY_CLASSES_ROOT is never written.
#pragma once

#include <windows.h>

#include "server/registration/registration_scope.h"

namespace orbalin {

inline constexpr WORD kRegistrationScriptId = 101;

// registerMode true writes the entries, false removes them. Never throws.
HRESULT RunRegistrationScript(HINSTANCE instance, bool registerMode,
                              RegistrationScope scope = RegistrationScope::Machine) noexcept;

// On 64-bit Windows the builds of both bitnesses register the class each in
// its own registry view, but the ProgID keys are one for both views, so
// unregistering either build removes the other's ProgIDs too. Called after
// this library's entries are removed: when the other view still registers
// classId to a file, the script is applied again in register mode in that
// view, with that file as %MODULE%, which writes the same entries as that
// build's own registration. Returns S_FALSE when there is nothing to restore
// (32-bit Windows, or no other build registered). The per-user classes
// share their ProgID keys between the views in the same way, so the same
// holds within the scope given. Never throws.
HRESULT RestoreOtherViewRegistration(HINSTANCE instance, REFCLSID classId,
                                     RegistrationScope scope = RegistrationScope::Machine) noexcept;

// True when CLSID\{classId}\InprocServer32 in this process's registry view
// (of the scope's classes) names an existing file that is not this library:
// the class is registered to another copy, which unregistering this one must
// leave alone. Never throws.
bool RegisteredToAnotherFile(HINSTANCE instance, REFCLSID classId,
                             RegistrationScope scope = RegistrationScope::Machine) noexcept;

}  // namespace orbalin
