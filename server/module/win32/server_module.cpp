#include "server/module/win32/server_module.h"

#include <new>

#include "server/module/win32/type_library_registration.h"

namespace orbalin {

namespace {
constinit ServerModule g_module;
}

ServerModule& Module() noexcept
{
    return g_module;
}

void ServerModule::Start(HINSTANCE instance, ClassTableEntry* classTable, const GUID& libraryId) noexcept
{
    m_instance = instance;
    m_classTable = classTable;
    m_lockCount = 0;
    m_terminationActions = nullptr;
    m_classTableLock.Create();
    m_typeInfoLock.Create();
    for (ClassTableEntry* entry = m_classTable; entry->classId; ++entry) {
        if (entry->notify)
            entry->notify(true);
    }
    m_libraryId = libraryId;
}

void ServerModule::Stop() noexcept
{
    for (ClassTableEntry* entry = m_classTable; entry->classId; ++entry) {
        if (entry->classObject) {
            entry->classObject->Release();
            entry->classObject = nullptr;
        }
        if (entry->notify)
            entry->notify(false);
    }
    m_typeInfoLock.Destroy();
    m_classTableLock.Destroy();
    RunTerminationActions();
}

HRESULT ServerModule::AddTerminationAction(TerminationAction action, void* argument) noexcept
{
    auto* node = new (std::nothrow) TerminationNode{action, argument, nullptr};
    if (!node)
        return E_OUTOFMEMORY;
    ModuleLockGuard guard(m_typeInfoLock);
    node->next = m_terminationActions;
    m_terminationActions = node;
    return S_OK;
}

void ServerModule::RunTerminationActions() noexcept
{
    while (TerminationNode* node = m_terminationActions) {
        m_terminationActions = node->next;
        node->action(node->argument);
        delete node;
    }
}

HRESULT ServerModule::GetClassObject(REFCLSID classId, REFIID iid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (ClassTableEntry* entry = m_classTable; entry && entry->classId; ++entry) {
        if (!entry->createClassObject || !::IsEqualCLSID(*entry->classId, classId))
            continue;
        // Read without the lock first; the second look inside it makes
        // concurrent first requests share one class object.
        IUnknown* classObject = reinterpret_cast<IUnknown*>(
            ::InterlockedCompareExchangePointer(reinterpret_cast<void**>(&entry->classObject), nullptr, nullptr));
        if (!classObject) {
            ModuleLockGuard guard(m_classTableLock);
            if (!entry->classObject) {
                void* made = nullptr;
                const HRESULT hr = entry->createClassObject(entry->createObject, IID_IUnknown, &made);
                if (FAILED(hr))
                    return hr;
                ::InterlockedExchangePointer(reinterpret_cast<void**>(&entry->classObject), made);
            }
            classObject = entry->classObject;
        }
        return classObject->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerModule::RegisterServer(RegistrationScope scope) noexcept
{
    for (ClassTableEntry* entry = m_classTable; entry->classId; ++entry) {
        const HRESULT hr = entry->registration(m_instance, true, scope);
        if (FAILED(hr))
            return hr;
    }
    // The class declares no component categories.
    return RegisterTypeLibrary(m_instance, scope);
}

HRESULT ServerModule::UnregisterServer(RegistrationScope scope) noexcept
{
    for (ClassTableEntry* entry = m_classTable; entry->classId; ++entry)
        entry->registration(m_instance, false, scope);
    UnregisterTypeLibrary(m_instance, scope);
    return S_OK;
}

bool ServerModule::InstallScope(const wchar_t* commandLine, RegistrationScope& scope) noexcept
{
    // regsvr32 passes the text after "/i:" as it was typed.
    const auto is = [commandLine](const wchar_t* word) {
        return ::CompareStringOrdinal(commandLine, -1, word, -1, TRUE) == CSTR_EQUAL;
    };
    if (commandLine == nullptr || *commandLine == L'\0' || is(L"machine"))
        scope = RegistrationScope::Machine;
    else if (is(L"user"))
        scope = RegistrationScope::User;
    else
        return false;
    return true;
}

HRESULT ServerModule::Install(bool install, const wchar_t* commandLine) noexcept
{
    RegistrationScope scope = RegistrationScope::Machine;
    if (!InstallScope(commandLine, scope))
        return E_INVALIDARG;
    return install ? RegisterServer(scope) : UnregisterServer(scope);
}

}  // namespace orbalin
