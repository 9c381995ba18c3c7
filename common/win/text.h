// Text conversion for the W functions. Fixed Bulgarian texts are stored as
// Windows-1251 bytes; converting them with code page 1251 (not CP_ACP) makes
// them read correctly whatever the system code page is.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "common/win/unique_memory.h"

namespace lorvane::win {

inline constexpr UINT kCyrillicCodePage = 1251;

inline std::wstring WideFromCodePage(std::string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

inline std::wstring WideFrom1251(std::string_view text) { return WideFromCodePage(text, kCyrillicCodePage); }

// flags as for WideCharToMultiByte (e.g. WC_NO_BEST_FIT_CHARS); they must
// be 0 for CP_UTF8.
inline std::string CodePageFromWide(std::wstring_view text, UINT codePage, DWORD flags = 0)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(codePage, flags, text.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

// The system's own text for a Win32 error code or HRESULT, in UTF-8,
// without the line end and final period; empty when the system has none.
inline std::string SystemMessage(DWORD error)
{
    UniqueLocalMemory<wchar_t> text;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(text.Receive()), 0, nullptr);
    std::wstring wide = length ? std::wstring(text.Get(), length) : std::wstring();
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.'))
        wide.pop_back();
    return CodePageFromWide(wide, CP_UTF8);
}

// The same with the code: "Access is denied (5)".
inline std::string SystemErrorText(DWORD error)
{
    const std::string reason = SystemMessage(error);
    return (reason.empty() ? "system error" : reason) + " (" + std::to_string(error) + ")";
}

}  // namespace lorvane::win
