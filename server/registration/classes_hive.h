// Where a registration's rows go. The script names HKCR, but the merged
// HKEY_CLASSES_ROOT is no place to write: it reads the current user's rows
// first, and writes into a key the user already has. A machine-wide
// registration through it would then land in (or, unregistering, look at)
// the per-user copy of an administrator who once registered for himself.
// So the script's HKCR stands for the scope's own hive: for every user
// HKLM\Software\Classes, for the current user HKCU\Software\Classes.
#pragma once

#include <string_view>

#include "server/registration/registration_scope.h"
#include "server/registration/script_interpreter.h"

namespace orbalin {

// The hive's root, and the two keys below it that hold the classes.
RootKey ClassesHiveRoot(RegistrationScope scope);
inline constexpr std::string_view kSoftwareKey = "Software";
inline constexpr std::string_view kClassesKey = "Classes";

// Applies the script with its HKCR standing for the scope's classes key.
// Registering makes that key when it is missing (a new profile may lack
// it); unregistering only opens it, and with no such key there is nothing
// to remove (Ok).
Status ApplyRegistrationScriptInScope(std::string_view text, ScriptMode mode, const ReplacementMap& map,
                                      const CodePage& codePage, Registry& registry, RegistrationScope scope);

}  // namespace orbalin
