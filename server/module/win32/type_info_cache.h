// The type information of IOrbalinObj and its name table, loaded once per
// process from the registered type library and shared by all server objects.
// The module holds the one cache.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>

#include "server/module/name_table.h"

namespace orbalin {

class TypeInfoCache {
public:
    TypeInfoCache() = default;
    TypeInfoCache(const TypeInfoCache&) = delete;
    TypeInfoCache& operator=(const TypeInfoCache&) = delete;

    // Loads the type information on first need (and again after a failure)
    // from the type library registered under libraryId, version 1.0, in the
    // given locale; concurrent first calls load it once. The returned pointer
    // is not AddRef'ed; it stays valid until Clear.
    HRESULT Ensure(const GUID& libraryId, LCID locale, ITypeInfo** typeInfo) noexcept;

    // The dispatch identifiers of the names, once loaded: exact names come
    // from the name table, anything else goes to the type information's own
    // lookup.
    HRESULT LookUpDispatchIds(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* dispatchIds) const noexcept;

    // At unload, when no object is left to use the cache.
    void Clear() noexcept;

private:
    HRESULT Load(const GUID& libraryId, LCID locale) noexcept;

    std::mutex m_loadLock;
    // Set only after the type information and the complete name table are
    // in place; readers that see it need no lock.
    std::atomic<bool> m_loaded{false};
    Microsoft::WRL::ComPtr<ITypeInfo> m_typeInfo;
    NameTable m_names;
};

}  // namespace orbalin
