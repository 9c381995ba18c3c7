// Owners of the descriptions that type information and type libraries hand
// out and take back through their own Release methods (ReleaseTypeAttr,
// ReleaseFuncDesc, ReleaseVarDesc, ReleaseTLibAttr). The owner keeps a
// reference to the interface that made the description, so the description
// never outlives what must free it.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <utility>

namespace lorvane::win {

// Release is the member of Source that takes the description back.
template <typename Source, typename Type, auto Release>
class UniqueTypeDescription {
public:
    UniqueTypeDescription() noexcept = default;
    // Takes over description, which source handed out.
    UniqueTypeDescription(Source* source, Type* description) noexcept : m_source(source), m_description(description) {}
    ~UniqueTypeDescription() { Reset(); }

    UniqueTypeDescription(UniqueTypeDescription&& other) noexcept
        : m_source(std::exchange(other.m_source, nullptr)), m_description(std::exchange(other.m_description, nullptr))
    {
    }
    UniqueTypeDescription& operator=(UniqueTypeDescription&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_source.Swap(other.m_source);
            std::swap(m_description, other.m_description);
        }
        return *this;
    }
    UniqueTypeDescription(const UniqueTypeDescription&) = delete;
    UniqueTypeDescription& operator=(const UniqueTypeDescription&) = delete;

    Type* Get() const noexcept { return m_description; }
    Type* operator->() const noexcept { return m_description; }
    explicit operator bool() const noexcept { return m_description != nullptr; }

    void Reset() noexcept
    {
        if (m_description)
            (m_source.Get()->*Release)(m_description);
        m_description = nullptr;
        m_source.Reset();
    }
    // Releases what is held and gives the address for source's Get method
    // to write into: typeInfo->GetTypeAttr(attributes.Receive(typeInfo)).
    Type** Receive(Source* source) noexcept
    {
        Reset();
        m_source = source;
        return &m_description;
    }

private:
    Microsoft::WRL::ComPtr<Source> m_source;
    Type* m_description = nullptr;
};

using UniqueTypeAttr = UniqueTypeDescription<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using UniqueFuncDesc = UniqueTypeDescription<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using UniqueVarDesc = UniqueTypeDescription<ITypeInfo, VARDESC, &ITypeInfo::ReleaseVarDesc>;
using UniqueTlibAttr = UniqueTypeDescription<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;

}  // namespace lorvane::win
