#include "server/module/win32/type_library_registration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <new>
#include <string>

#include "common/win/module_path.h"
#include "common/win/unique_handle.h"
#include "server/module/type_library_path.h"

namespace orbalin {

namespace {

using Microsoft::WRL::ComPtr;

// Loads the type library from the library file (its resource TYPELIB 1),
// else from the ".tlb" beside it. path receives the path that loaded.
HRESULT LoadOwnTypeLibrary(HINSTANCE instance, std::wstring& path, ComPtr<ITypeLib>& typeLib)
{
    HRESULT hr = lorvane::win::ModuleFilePath(instance, path);
    if (FAILED(hr))
        return hr;
    hr = ::LoadTypeLib(path.c_str(), typeLib.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr))
        return hr;
    path = TypeLibraryFallbackPath(path);
    return ::LoadTypeLib(path.c_str(), typeLib.ReleaseAndGetAddressOf());
}

using RegisterTypeLibFunction = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// Looked up by name at run time, as the platform's own registration tools
// do (the per-user functions are not in every SDK's headers either).
template <typename Function>
Function OleAutFunction(const lorvane::win::UniqueHmodule& oleAut, const char* name) noexcept
{
    return oleAut ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(oleAut.Get(), name)))
                  : nullptr;
}

// An older system without the function simply skips it.
void UnregisterThroughOleAut(const TLIBATTR& attributes, RegistrationScope scope) noexcept
{
    const lorvane::win::UniqueHmodule oleAut(::LoadLibraryW(L"oleaut32.dll"));
    auto unregister = OleAutFunction<UnRegisterTypeLibFunction>(
        oleAut, scope == RegistrationScope::User ? "UnRegisterTypeLibForUser" : "UnRegisterTypeLib");
    if (unregister)
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

}  // namespace

HRESULT RegisterTypeLibrary(HINSTANCE instance, RegistrationScope scope) noexcept
try {
    std::wstring path;
    ComPtr<ITypeLib> typeLib;
    const HRESULT hr = LoadOwnTypeLibrary(instance, path, typeLib);
    if (FAILED(hr))
        return hr;
    std::wstring helpDirectory = HelpDirectoryOf(path);
    if (scope == RegistrationScope::User)
        return RegisterForUser(typeLib.Get(), path, helpDirectory);
    return ::RegisterTypeLib(typeLib.Get(), path.data(), helpDirectory.data());
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT UnregisterTypeLibrary(HINSTANCE instance, RegistrationScope scope) noexcept
try {
    std::wstring path;
    ComPtr<ITypeLib> typeLib;
    const HRESULT hr = LoadOwnTypeLibrary(instance, path, typeLib);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(typeLib->GetLibAttr(&attributes))) {
        UnregisterThroughOleAut(*attributes, scope);
        typeLib->ReleaseTLibAttr(attributes);
    }
    return hr;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

}  // namespace orbalin
