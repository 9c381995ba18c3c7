// The type information of IOrbalinObj and its name table, loaded once per
// process from the registered type library and shared by all server objects.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace orbalin {

// Loads the type information on first need (and again after a failure) from
// the type library registered under the module's library identifier,
// version 1.0, in the given locale. The returned pointer is not AddRef'ed;
// it stays valid until the library unloads.
HRESULT EnsureTypeInfo(LCID locale, ITypeInfo** typeInfo) noexcept;

// The dispatch identifiers of the names: exact names come from the name
// table, anything else goes to the type information's own lookup.
HRESULT LookUpDispatchIds(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* dispatchIds) noexcept;

}  // namespace orbalin
