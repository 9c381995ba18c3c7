// OrbalinObj with the IUnknown and IDispatch that the module normally
// supplies stubbed out, so tests can create it on the stack.
#pragma once

#include "server/object/win32/orbalin_obj.h"

namespace orbalin::testing {

class TestObject final : public OrbalinObj {
public:
    using OrbalinObj::OrbalinObj;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        if (out != nullptr)
            *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};

}  // namespace orbalin::testing
