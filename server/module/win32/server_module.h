// ServerModule: the library-wide state of Orbalin.dll, from process attach to
// process detach. It holds the lock count that DllCanUnloadNow reports, the
// class table with the cached class objects, and the type information that
// the server objects share.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <mutex>
#include <vector>

#include "server/module/win32/type_info_cache.h"
#include "server/registration/registration_scope.h"

namespace orbalin {

// Makes a server object, aggregated when outer is given.
using ObjectCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);
// Makes a class object for the object creator, asked for iid.
using ClassObjectCreator = HRESULT (*)(ObjectCreator objectCreator, REFIID iid, void** out);
// Writes (true) or removes (false) the class's registration entries, for the
// machine or for the current user.
using RegistrationAction = HRESULT (*)(HINSTANCE instance, bool registerMode, RegistrationScope scope);
// Told true at load and false at unload.
using StartStopNotification = void (*)(bool starting);

struct ClassTableEntry {
    const CLSID* classId;  // null ends the table
    RegistrationAction registration;
    ClassObjectCreator createClassObject;
    ObjectCreator createObject;
    StartStopNotification notify;
};

class ServerModule {
public:
    ServerModule() = default;
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;

    // Process attach and detach.
    void Start(HINSTANCE instance, const ClassTableEntry* classTable, const GUID& libraryId) noexcept;
    void Stop() noexcept;

    LONG Lock() noexcept { return ::InterlockedIncrement(&m_lockCount); }
    LONG Unlock() noexcept { return ::InterlockedDecrement(&m_lockCount); }
    LONG LockCount() noexcept { return ::InterlockedCompareExchange(&m_lockCount, 0, 0); }

    HINSTANCE Instance() const noexcept { return m_instance; }

    // The cached class object of classId, made on first request; then
    // asked for iid.
    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** out) noexcept;

    // The type information of the library's interface and its name lookup;
    // see TypeInfoCache.
    HRESULT EnsureTypeInfo(LCID locale, ITypeInfo** typeInfo) noexcept
    {
        return m_typeInfo.Ensure(m_libraryId, locale, typeInfo);
    }
    HRESULT LookUpDispatchIds(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* dispatchIds) const noexcept
    {
        return m_typeInfo.LookUpDispatchIds(typeInfo, names, count, dispatchIds);
    }

    HRESULT RegisterServer(RegistrationScope scope = RegistrationScope::Machine) noexcept;
    HRESULT UnregisterServer(RegistrationScope scope = RegistrationScope::Machine) noexcept;

    // DllInstall: the command line "user" registers (install) or unregisters
    // for the current user; none or "machine" does what DllRegisterServer or
    // DllUnregisterServer does; anything else is E_INVALIDARG.
    HRESULT Install(bool install, const wchar_t* commandLine) noexcept;
    // The scope DllInstall's command line names ("user", "machine" or
    // nothing); false for any other text.
    static bool InstallScope(const wchar_t* commandLine, RegistrationScope& scope) noexcept;

private:
    HRESULT CachedClassObject(const ClassTableEntry& entry, IUnknown** classObject) noexcept;

    HINSTANCE m_instance = nullptr;
    LONG volatile m_lockCount = 0;
    const ClassTableEntry* m_classTable = nullptr;
    GUID m_libraryId{};
    // One per class table entry, in its order; the module's own reference.
    std::mutex m_classObjectsLock;
    std::vector<Microsoft::WRL::ComPtr<IUnknown>> m_classObjects;
    TypeInfoCache m_typeInfo;
};

// The one ServerModule of this library.
ServerModule& Module() noexcept;

}  // namespace orbalin
