#include "server/module/win32/type_library_registration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include "common/result_code.h"
#include "common/win/com_guard.h"
#include "common/win/module_path.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_type_attr.h"
#include "server/module/type_library_path.h"

namespace orbalin {

namespace {

using Microsoft::WRL::ComPtr;

// Loads the type library from the library file (its resource TYPELIB 1),
// else from the ".tlb" beside it. path receives the path that loaded.
HRESULT LoadOwnTypeLibrary(HINSTANCE instance, std::wstring& path, ComPtr<ITypeLib>& typeLib)
{
    RETURN_IF_FAILED(lorvane::win::ModuleFilePath(instance, path));
    const HRESULT hr = ::LoadTypeLib(path.c_str(), typeLib.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr))
        return hr;
    path = TypeLibraryFallbackPath(path);
    return ::LoadTypeLib(path.c_str(), typeLib.ReleaseAndGetAddressOf());
}

using RegisterTypeLibFunction = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The per-user functions are looked up by name at run time, as the
// platform's own registration tools do: they are not in every SDK's headers.
template <typename Function>
Function OleAutFunction(const lorvane::win::UniqueHmodule& oleAut, const char* name) noexcept
{
    return oleAut ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(oleAut.Get(), name)))
                  : nullptr;
}

// A system without the per-user function simply skips it.
void RemoveRegistration(const TLIBATTR& attributes, RegistrationScope scope) noexcept
{
    if (scope == RegistrationScope::Machine) {
        ::UnRegisterTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum, attributes.lcid,
                            attributes.syskind);
        return;
    }
    const lorvane::win::UniqueHmodule oleAut(::LoadLibraryW(L"oleaut32.dll"));
    if (auto unregister = OleAutFunction<UnRegisterTypeLibFunction>(oleAut, "UnRegisterTypeLibForUser"))
        unregister(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum, attributes.lcid, attributes.syskind);
}

HRESULT RegisterForUser(ITypeLib* typeLib, std::wstring& path, std::wstring& helpDirectory) noexcept
{
    const lorvane::win::UniqueHmodule oleAut(::LoadLibraryW(L"oleaut32.dll"));
    auto registerForUser = OleAutFunction<RegisterTypeLibFunction>(oleAut, "RegisterTypeLibForUser");
    if (!registerForUser)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return registerForUser(typeLib, path.data(), helpDirectory.data());
}

HRESULT Register(HINSTANCE instance, RegistrationScope scope)
{
    std::wstring path;
    ComPtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(LoadOwnTypeLibrary(instance, path, typeLib));
    std::wstring helpDirectory = HelpDirectoryOf(path);
    if (scope == RegistrationScope::User)
        return RegisterForUser(typeLib.Get(), path, helpDirectory);
    return ::RegisterTypeLib(typeLib.Get(), path.data(), helpDirectory.data());
}

HRESULT Unregister(HINSTANCE instance, RegistrationScope scope)
{
    std::wstring path;
    ComPtr<ITypeLib> typeLib;
    const HRESULT loaded = LoadOwnTypeLibrary(instance, path, typeLib);
    RETURN_IF_FAILED(loaded);
    lorvane::win::UniqueTlibAttr attributes;
    if (SUCCEEDED(typeLib->GetLibAttr(attributes.Receive(typeLib.Get()))))
        RemoveRegistration(*attributes.Get(), scope);
    return loaded;
}

}  // namespace

HRESULT RegisterTypeLibrary(HINSTANCE instance, RegistrationScope scope) noexcept
{
    return lorvane::win::ComGuarded([&] { return Register(instance, scope); });
}

HRESULT UnregisterTypeLibrary(HINSTANCE instance, RegistrationScope scope) noexcept
{
    return lorvane::win::ComGuarded([&] { return Unregister(instance, scope); });
}

}  // namespace orbalin
