// RAII for Win32 resources: named types over the one template. For a
// kernel handle both null and INVALID_HANDLE_VALUE count as empty.
#pragma once

#include <windows.h>

#include "common/win/unique_any.h"

namespace lorvane::win {

struct HandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct HkeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct HmoduleTraits {
    using Type = HMODULE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};

using UniqueHandle = UniqueAny<HandleTraits>;
using UniqueHkey = UniqueAny<HkeyTraits>;
using UniqueHmodule = UniqueAny<HmoduleTraits>;
using UniqueGdiObject = UniqueAny<GdiObjectTraits>;

}  // namespace lorvane::win
