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

using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

void UnregisterThroughOleAut(const TLIBATTR& attributes) noexcept
{
    // Looked up by name at run time, as the platform's own registration
    // tools do; an older system without the function simply skips it.
    lorvane::win::UniqueHmodule oleAut(::LoadLibraryW(L"oleaut32.dll"));
    if (!oleAut)
        return;
    auto unregister = reinterpret_cast<UnRegisterTypeLibFunction>(
        reinterpret_cast<void*>(::GetProcAddress(oleAut.Get(), "UnRegisterTypeLib")));
    if (unregister)
        unregister(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum, attributes.lcid, attributes.syskind);
}

}  // namespace

HRESULT RegisterTypeLibrary(HINSTANCE instance) noexcept
try {
    std::wstring path;
    ComPtr<ITypeLib> typeLib;
    const HRESULT hr = LoadOwnTypeLibrary(instance, path, typeLib);
    if (FAILED(hr))
        return hr;
    std::wstring helpDirectory = HelpDirectoryOf(path);
    return ::RegisterTypeLib(typeLib.Get(), path.data(), helpDirectory.data());
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT UnregisterTypeLibrary(HINSTANCE instance) noexcept
try {
    std::wstring path;
    ComPtr<ITypeLib> typeLib;
    const HRESULT hr = LoadOwnTypeLibrary(instance, path, typeLib);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(typeLib->GetLibAttr(&attributes))) {
        UnregisterThroughOleAut(*attributes);
        typeLib->ReleaseTLibAttr(attributes);
    }
    return hr;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

}  // namespace orbalin
