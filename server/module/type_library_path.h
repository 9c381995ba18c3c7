// Path handling for registering the type library: the library file itself
// carries the type library as a resource; a ".tlb" beside it is the fallback.
#pragma once

#include <string>
#include <string_view>

namespace orbalin {

// The path with its extension replaced by ".tlb" (appended when the file
// name has none). A dot in a folder name is not an extension.
std::wstring TypeLibraryFallbackPath(std::wstring_view libraryPath);

// The folder part of the path, cut after its last "\", "/" or ":";
// empty when there is none.
std::wstring HelpDirectoryOf(std::wstring_view path);

}  // namespace orbalin
