// ServerModule: the library-wide state of Orbalin.dll, from process attach to
// process detach. It holds the lock count that DllCanUnloadNow reports, the
// class table with the cached class objects, and the actions run at unload.
#pragma once

#include <windows.h>
#include <objbase.h>

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
using TerminationAction = void (*)(void* argument);

struct ClassTableEntry {
    const CLSID* classId;  // null ends the table
    RegistrationAction registration;
    ClassObjectCreator createClassObject;
    ObjectCreator createObject;
    StartStopNotification notify;
    IUnknown* classObject;  // cached; owned by the module until unload
};

// A critical section created and destroyed explicitly, so that the module
// makes its locks at attach and drops them at detach.
class ModuleLock {
public:
    constexpr ModuleLock() = default;
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

    void Create() noexcept { ::InitializeCriticalSection(&m_section); }
    void Destroy() noexcept { ::DeleteCriticalSection(&m_section); }
    void Enter() noexcept { ::EnterCriticalSection(&m_section); }
    void Leave() noexcept { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section{};
};

class ModuleLockGuard {
public:
    explicit ModuleLockGuard(ModuleLock& lock) noexcept : m_lock(lock) { m_lock.Enter(); }
    ~ModuleLockGuard() { m_lock.Leave(); }
    ModuleLockGuard(const ModuleLockGuard&) = delete;
    ModuleLockGuard& operator=(const ModuleLockGuard&) = delete;

private:
    ModuleLock& m_lock;
};

class ServerModule {
public:
    constexpr ServerModule() = default;
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;

    // Process attach and detach.
    void Start(HINSTANCE instance, ClassTableEntry* classTable, const GUID& libraryId) noexcept;
    void Stop() noexcept;

    LONG Lock() noexcept { return ::InterlockedIncrement(&m_lockCount); }
    LONG Unlock() noexcept { return ::InterlockedDecrement(&m_lockCount); }
    LONG LockCount() noexcept { return ::InterlockedCompareExchange(&m_lockCount, 0, 0); }

    HINSTANCE Instance() const noexcept { return m_instance; }
    ClassTableEntry* ClassTable() const noexcept { return m_classTable; }
    const GUID& LibraryId() const noexcept { return m_libraryId; }
    ModuleLock& ClassTableLock() noexcept { return m_classTableLock; }
    ModuleLock& TypeInfoLock() noexcept { return m_typeInfoLock; }

    // Runs action(argument) at unload, after every action added later.
    HRESULT AddTerminationAction(TerminationAction action, void* argument) noexcept;

    // The cached class object of classId, made on first request; then
    // asked for iid.
    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** out) noexcept;

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
    struct TerminationNode {
        TerminationAction action;
        void* argument;
        TerminationNode* next;
    };

    void RunTerminationActions() noexcept;

    HINSTANCE m_instance = nullptr;
    LONG volatile m_lockCount = 0;
    ClassTableEntry* m_classTable = nullptr;
    GUID m_libraryId{};
    ModuleLock m_classTableLock;
    ModuleLock m_typeInfoLock;
    TerminationNode* m_terminationActions = nullptr;  // newest first
};

// The one ServerModule of this library.
ServerModule& Module() noexcept;

}  // namespace orbalin
