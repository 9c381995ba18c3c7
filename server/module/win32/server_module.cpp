#include "server/module/win32/server_module.h"

#include "common/result_code.h"
#include "common/win/com_guard.h"
#include "server/module/win32/type_library_registration.h"

namespace orbalin {

namespace {
// Made before DllMain's process attach and destroyed after its detach; Stop
// has emptied it by then.
ServerModule g_module;
}

ServerModule& Module() noexcept
{
    return g_module;
}

void ServerModule::Start(HINSTANCE instance, const ClassTableEntry* classTable, const GUID& libraryId) noexcept
{
    m_instance = instance;
    m_classTable = classTable;
    m_lockCount = 0;
    for (const ClassTableEntry* entry = m_classTable; entry->classId; ++entry) {
        if (entry->notify)
            entry->notify(true);
    }
    m_libraryId = libraryId;
}

void ServerModule::Stop() noexcept
{
    for (const ClassTableEntry* entry = m_classTable; entry->classId; ++entry) {
        const auto index = static_cast<std::size_t>(entry - m_classTable);
        if (index < m_classObjects.size())
            m_classObjects[index].Reset();
        if (entry->notify)
            entry->notify(false);
    }
    m_typeInfo.Clear();
}

HRESULT ServerModule::GetClassObject(REFCLSID classId, REFIID iid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (const ClassTableEntry* entry = m_classTable; entry && entry->classId; ++entry) {
        if (!entry->createClassObject || !::IsEqualCLSID(*entry->classId, classId))
            continue;
        // Concurrent first requests share one class object.
        const std::lock_guard guard(m_classObjectsLock);
        IUnknown* classObject = nullptr;
        RETURN_IF_FAILED(CachedClassObject(*entry, &classObject));
        return classObject->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The entry's class object, made on its first request; not AddRef'ed. The
// caller holds the class objects' lock.
HRESULT ServerModule::CachedClassObject(const ClassTableEntry& entry, IUnknown** classObject) noexcept
{
    const auto index = static_cast<std::size_t>(&entry - m_classTable);
    if (index >= m_classObjects.size())
        RETURN_IF_FAILED(lorvane::win::ComGuarded([&] {
            m_classObjects.resize(index + 1);
            return S_OK;
        }));
    Microsoft::WRL::ComPtr<IUnknown>& cached = m_classObjects[index];
    if (!cached)
        RETURN_IF_FAILED(entry.createClassObject(entry.createObject, IID_IUnknown, &cached));
    *classObject = cached.Get();
    return S_OK;
}

HRESULT ServerModule::RegisterServer(RegistrationScope scope) noexcept
{
    for (const ClassTableEntry* entry = m_classTable; entry->classId; ++entry)
        RETURN_IF_FAILED(entry->registration(m_instance, true, scope));
    // The class declares no component categories.
    return RegisterTypeLibrary(m_instance, scope);
}

HRESULT ServerModule::UnregisterServer(RegistrationScope scope) noexcept
{
    for (const ClassTableEntry* entry = m_classTable; entry->classId; ++entry)
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
