// Owns one VARIANT: cleared on destruction, so a string, array or interface
// it carries is freed with it.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace lorvane::win {

class UniqueVariant {
public:
    UniqueVariant() noexcept { ::VariantInit(&m_value); }
    ~UniqueVariant() { ::VariantClear(&m_value); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    const VARIANT& Get() const noexcept { return m_value; }
    // For an in or out parameter; what a call writes here is owned.
    VARIANT* Address() noexcept { return &m_value; }
    // Frees what is held and gives the empty VARIANT for a call to fill.
    VARIANT* Receive() noexcept
    {
        ::VariantClear(&m_value);
        return &m_value;
    }
    const VARIANT* operator->() const noexcept { return &m_value; }

private:
    VARIANT m_value;
};

}  // namespace lorvane::win
