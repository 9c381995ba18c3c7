// RAII for Win32 resources: one template over traits, many named types.
// Both null and INVALID_HANDLE_VALUE count as empty.
#pragma once

#include <windows.h>

#include <utility>

namespace lorvane::win {

template <typename Traits>
class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() noexcept = default;
    // Takes ownership of value.
    explicit UniqueAny(Type value) noexcept : m_value(value) {}
    ~UniqueAny() { Reset(); }

    UniqueAny(UniqueAny&& other) noexcept : m_value(other.Take()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;

    Type Get() const noexcept { return m_value; }
    bool IsValid() const noexcept { return Traits::IsValid(m_value); }
    explicit operator bool() const noexcept { return IsValid(); }

    void Reset(Type value = Traits::Empty()) noexcept
    {
        if (Traits::IsValid(m_value))
            Traits::Close(m_value);
        m_value = value;
    }
    [[nodiscard]] Type Take() noexcept { return std::exchange(m_value, Traits::Empty()); }

private:
    Type m_value = Traits::Empty();
};

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
