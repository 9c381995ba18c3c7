#include "server/module/type_library_path.h"

namespace orbalin {

namespace {
constexpr std::wstring_view kSeparators = L"\\/:";
}

std::wstring TypeLibraryFallbackPath(std::wstring_view libraryPath)
{
    const std::size_t nameStart = [&] {
        const std::size_t separator = libraryPath.find_last_of(kSeparators);
        return separator == std::wstring_view::npos ? 0 : separator + 1;
    }();
    std::size_t dot = libraryPath.rfind(L'.');
    if (dot == std::wstring_view::npos || dot < nameStart)
        dot = libraryPath.size();
    std::wstring path(libraryPath.substr(0, dot));
    path += L".tlb";
    return path;
}

std::wstring HelpDirectoryOf(std::wstring_view path)
{
    const std::size_t separator = path.find_last_of(kSeparators);
    if (separator == std::wstring_view::npos)
        return {};
    return std::wstring(path.substr(0, separator + 1));
}

}  // namespace orbalin
