// RAII for platform resources: one template over traits (type, empty value,
// validity, release). Free of <windows.h>, so a header can hold a resource
// whose traits are defined where the platform API is known.
#pragma once

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
    // Releases what is held and gives the address to an API that writes a
    // new value into it (an out parameter).
    Type* Receive() noexcept
    {
        Reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Empty();
};

}  // namespace lorvane::win
