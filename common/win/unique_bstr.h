// Owns one BSTR: the server's stored strings and what tests receive from
// accessors.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "common/win/unique_any.h"

namespace lorvane::win {

struct BstrTraits {
    using Type = BSTR;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type s) noexcept { return s != nullptr; }
    static void Close(Type s) noexcept { ::SysFreeString(s); }
};

class UniqueBstr : public UniqueAny<BstrTraits> {
public:
    UniqueBstr() noexcept = default;
    // A copy of text up to its first NUL. Null for a null text, or when the
    // copy cannot be allocated. (To take over an allocated BSTR, use Receive
    // or Reset.)
    explicit UniqueBstr(const wchar_t* text) noexcept : UniqueAny(text ? ::SysAllocString(text) : nullptr) {}

    // The whole string, embedded NULs included; empty for null.
    std::wstring Text() const
    {
        return Get() ? std::wstring(Get(), ::SysStringLen(Get())) : std::wstring();
    }
};

}  // namespace lorvane::win
