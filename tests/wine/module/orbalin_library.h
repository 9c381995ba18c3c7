// Test helper: Orbalin.dll loaded by path, with its four entry points.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "common/win/unique_bstr.h"
#include "server/contract/orbalin_contract.h"
#include "orbalin_test_paths.h"

namespace orbalin::test {

using Microsoft::WRL::ComPtr;

class OrbalinLibrary {
public:
    OrbalinLibrary() : m_module(::LoadLibraryW(kOrbalinDllPath))
    {
        if (!m_module)
            return;
        m_canUnloadNow = Resolve<CanUnloadNowFn>("DllCanUnloadNow");
        m_getClassObject = Resolve<GetClassObjectFn>("DllGetClassObject");
        m_registerServer = Resolve<VoidFn>("DllRegisterServer");
        m_unregisterServer = Resolve<VoidFn>("DllUnregisterServer");
    }
    ~OrbalinLibrary()
    {
        if (m_module)
            ::FreeLibrary(m_module);
    }
    OrbalinLibrary(const OrbalinLibrary&) = delete;
    OrbalinLibrary& operator=(const OrbalinLibrary&) = delete;

    bool Loaded() const
    {
        return m_module && m_canUnloadNow && m_getClassObject && m_registerServer && m_unregisterServer;
    }
    HRESULT CanUnloadNow() const { return m_canUnloadNow(); }
    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** out) const { return m_getClassObject(classId, iid, out); }
    HRESULT RegisterServer() const { return m_registerServer(); }
    HRESULT UnregisterServer() const { return m_unregisterServer(); }

    ComPtr<IClassFactory> Factory() const
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(GetClassObject(CLSID_OrbalinObj, IID_PPV_ARGS(&factory)), S_OK);
        return factory;
    }

    ComPtr<IOrbalinObj> NewObject() const
    {
        ComPtr<IOrbalinObj> object;
        if (ComPtr<IClassFactory> factory = Factory()) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK);
        }
        return object;
    }

private:
    using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using VoidFn = HRESULT(STDAPICALLTYPE*)();

    template <typename Fn>
    Fn Resolve(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

    HMODULE m_module;
    CanUnloadNowFn m_canUnloadNow = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
    VoidFn m_registerServer = nullptr;
    VoidFn m_unregisterServer = nullptr;
};

// COM initialised on the calling thread for a test's lifetime.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_MULTITHREADED) : m_hr(::CoInitializeEx(nullptr, model)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT m_hr;
};

// An owned BSTR.
using Bstr = lorvane::win::UniqueBstr;

}  // namespace orbalin::test
