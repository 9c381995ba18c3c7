// Owners of memory that a system call allocates and the caller frees: the
// COM task allocator's (ProgIDFromCLSID, StringFromCLSID) and the local
// heap's (FormatMessage, CommandLineToArgvW).
#pragma once

#include <windows.h>
#include <objbase.h>

#include "common/win/unique_any.h"

namespace lorvane::win {

template <typename T>
struct CoTaskMemTraits {
    using Type = T*;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};

template <typename T>
struct LocalMemoryTraits {
    using Type = T*;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { ::LocalFree(p); }
};

template <typename T>
using UniqueCoTaskMem = UniqueAny<CoTaskMemTraits<T>>;
template <typename T>
using UniqueLocalMemory = UniqueAny<LocalMemoryTraits<T>>;

}  // namespace lorvane::win
