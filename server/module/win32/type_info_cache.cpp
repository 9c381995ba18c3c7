#include "server/module/win32/type_info_cache.h"

#include <oleauto.h>

#include <string_view>

#include "common/result_code.h"
#include "common/win/com_guard.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_type_attr.h"
#include "server/contract/orbalin_contract.h"

namespace orbalin {

namespace {

using Microsoft::WRL::ComPtr;

HRESULT MemberIdAt(ITypeInfo* typeInfo, UINT index, MEMBERID& memberId) noexcept
{
    lorvane::win::UniqueFuncDesc function;
    RETURN_IF_FAILED(typeInfo->GetFuncDesc(index, function.Receive(typeInfo)));
    memberId = function->memid;
    return S_OK;
}

// May throw std::bad_alloc.
HRESULT BuildNameTable(ITypeInfo* typeInfo, NameTable& names)
{
    lorvane::win::UniqueTypeAttr attributes;
    RETURN_IF_FAILED(typeInfo->GetTypeAttr(attributes.Receive(typeInfo)));
    const UINT functionCount = attributes->cFuncs;
    for (UINT index = 0; index < functionCount; ++index) {
        MEMBERID memberId = MEMBERID_NIL;
        RETURN_IF_FAILED(MemberIdAt(typeInfo, index, memberId));
        lorvane::win::UniqueBstr name;
        RETURN_IF_FAILED(typeInfo->GetDocumentation(memberId, name.Receive(), nullptr, nullptr, nullptr));
        names.Add(std::wstring_view(name.Get(), ::SysStringLen(name.Get())), memberId);
    }
    return S_OK;
}

HRESULT LoadInterfaceTypeInfo(const GUID& libraryId, LCID locale, ComPtr<ITypeInfo>& typeInfo) noexcept
{
    ComPtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(::LoadRegTypeLib(libraryId, 1, 0, locale, &typeLib));
    RETURN_IF_FAILED(typeLib->GetTypeInfoOfGuid(IID_IOrbalinObj, &typeInfo));
    // The extended interface, when offered, is the one kept.
    ComPtr<ITypeInfo2> typeInfo2;
    if (SUCCEEDED(typeInfo.As(&typeInfo2)))
        typeInfo = typeInfo2;
    return S_OK;
}

}  // namespace

HRESULT TypeInfoCache::Load(const GUID& libraryId, LCID locale) noexcept
{
    ComPtr<ITypeInfo> typeInfo;
    RETURN_IF_FAILED(LoadInterfaceTypeInfo(libraryId, locale, typeInfo));
    m_names.Clear();
    const HRESULT hr = lorvane::win::ComGuarded([&] { return BuildNameTable(typeInfo.Get(), m_names); });
    if (FAILED(hr)) {
        m_names.Clear();
        return hr;
    }
    m_typeInfo = typeInfo;
    m_loaded.store(true, std::memory_order_release);
    return S_OK;
}

HRESULT TypeInfoCache::Ensure(const GUID& libraryId, LCID locale, ITypeInfo** typeInfo) noexcept
{
    if (!m_loaded.load(std::memory_order_acquire)) {
        const std::lock_guard guard(m_loadLock);
        if (!m_loaded.load(std::memory_order_relaxed))
            RETURN_IF_FAILED(Load(libraryId, locale));
    }
    *typeInfo = m_typeInfo.Get();
    return S_OK;
}

HRESULT TypeInfoCache::LookUpDispatchIds(ITypeInfo* typeInfo, LPOLESTR* names, UINT count,
                                         DISPID* dispatchIds) const noexcept
{
    if (count > 0 && (!names || !dispatchIds))
        return E_POINTER;
    for (UINT index = 0; index < count; ++index) {
        const std::optional<long> found = names[index] ? m_names.Find(names[index]) : std::nullopt;
        if (found) {
            dispatchIds[index] = *found;
            continue;
        }
        // The type information answers the whole request (member and
        // parameter names alike, without regard to case).
        return typeInfo->GetIDsOfNames(names, count, dispatchIds);
    }
    return S_OK;
}

void TypeInfoCache::Clear() noexcept
{
    m_loaded.store(false, std::memory_order_relaxed);
    m_typeInfo.Reset();
    m_names.Clear();
}

}  // namespace orbalin
