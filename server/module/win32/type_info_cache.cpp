#include "server/module/win32/type_info_cache.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <string_view>

#include "common/win/unique_bstr.h"
#include "orbalin_contract.h"
#include "server/module/name_table.h"
#include "server/module/win32/server_module.h"

namespace orbalin {

namespace {

using Microsoft::WRL::ComPtr;

struct TypeInfoCache {
    // Published only after the name table is complete.
    std::atomic<ITypeInfo*> typeInfo{nullptr};
    NameTable names;
};

TypeInfoCache g_cache;

void ReleaseTypeInfoCache(void* argument) noexcept
{
    auto* cache = static_cast<TypeInfoCache*>(argument);
    if (ITypeInfo* typeInfo = cache->typeInfo.exchange(nullptr))
        typeInfo->Release();
    cache->names.Clear();
}

HRESULT BuildNameTable(ITypeInfo* typeInfo, NameTable& names)
{
    TYPEATTR* attributes = nullptr;
    HRESULT hr = typeInfo->GetTypeAttr(&attributes);
    if (FAILED(hr))
        return hr;
    const WORD functionCount = attributes->cFuncs;
    typeInfo->ReleaseTypeAttr(attributes);

    for (UINT index = 0; index < functionCount; ++index) {
        FUNCDESC* function = nullptr;
        hr = typeInfo->GetFuncDesc(index, &function);
        if (FAILED(hr))
            return hr;
        const MEMBERID memberId = function->memid;
        typeInfo->ReleaseFuncDesc(function);

        lorvane::win::UniqueBstr name;
        hr = typeInfo->GetDocumentation(memberId, name.Receive(), nullptr, nullptr, nullptr);
        if (FAILED(hr))
            return hr;
        try {
            names.Add(std::wstring_view(name.Get(), ::SysStringLen(name.Get())), memberId);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

HRESULT LoadTypeInfo(LCID locale) noexcept
{
    ServerModule& module = Module();
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = ::LoadRegTypeLib(module.LibraryId(), 1, 0, locale, &typeLib);
    if (FAILED(hr))
        return hr;
    ComPtr<ITypeInfo> typeInfo;
    hr = typeLib->GetTypeInfoOfGuid(IID_IOrbalinObj, &typeInfo);
    if (FAILED(hr))
        return hr;
    // The extended interface, when offered, is the one kept.
    ComPtr<ITypeInfo2> typeInfo2;
    if (SUCCEEDED(typeInfo.As(&typeInfo2)))
        typeInfo = typeInfo2;

    g_cache.names.Clear();
    hr = BuildNameTable(typeInfo.Get(), g_cache.names);
    if (SUCCEEDED(hr))
        hr = module.AddTerminationAction(ReleaseTypeInfoCache, &g_cache);
    if (FAILED(hr)) {
        g_cache.names.Clear();
        return hr;
    }
    g_cache.typeInfo.store(typeInfo.Detach(), std::memory_order_release);
    return S_OK;
}

}  // namespace

HRESULT EnsureTypeInfo(LCID locale, ITypeInfo** typeInfo) noexcept
{
    ITypeInfo* loaded = g_cache.typeInfo.load(std::memory_order_acquire);
    if (!loaded) {
        ModuleLockGuard guard(Module().TypeInfoLock());
        loaded = g_cache.typeInfo.load(std::memory_order_acquire);
        if (!loaded) {
            const HRESULT hr = LoadTypeInfo(locale);
            if (FAILED(hr))
                return hr;
            loaded = g_cache.typeInfo.load(std::memory_order_acquire);
        }
    }
    *typeInfo = loaded;
    return S_OK;
}

HRESULT LookUpDispatchIds(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* dispatchIds) noexcept
{
    if (count > 0 && (!names || !dispatchIds))
        return E_POINTER;
    for (UINT index = 0; index < count; ++index) {
        const std::optional<long> found = names[index] ? g_cache.names.Find(names[index]) : std::nullopt;
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

}  // namespace orbalin
