#include "server/module/win32/server_object.h"

#include <atomic>

#include "common/result_code.h"
#include "common/win/com_guard.h"
#include "server/module/win32/server_module.h"

namespace orbalin {

namespace {

// IDispatch through the type information, and the interface table shared by
// both forms of the object. Counted in the module's lock count for its
// whole life.
class DispatchingObj : public OrbalinObj {
public:
    DispatchingObj() { Module().Lock(); }
    ~DispatchingObj() override { Module().Unlock(); }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT /*index*/, LCID locale, ITypeInfo** out) noexcept override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        ITypeInfo* typeInfo = nullptr;
        RETURN_IF_FAILED(Module().EnsureTypeInfo(locale, &typeInfo));
        typeInfo->AddRef();
        *out = typeInfo;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID /*iid*/, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* dispatchIds) noexcept override
    {
        ITypeInfo* typeInfo = nullptr;
        RETURN_IF_FAILED(Module().EnsureTypeInfo(locale, &typeInfo));
        return Module().LookUpDispatchIds(typeInfo, names, count, dispatchIds);
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispatchId, REFIID /*iid*/, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept override
    {
        ITypeInfo* typeInfo = nullptr;
        RETURN_IF_FAILED(Module().EnsureTypeInfo(locale, &typeInfo));
        const HRESULT invoked = typeInfo->Invoke(static_cast<IOrbalinObj*>(this), dispatchId, flags, parameters,
                                                 result, exception, argumentError);
        // A late-bound caller learns of errors through the exception record,
        // never through the thread's error record. SendCommand's
        // not-responding record comes with a success status, so nobody here
        // would consume it, and a scripting host would later show it for an
        // unrelated failure on this thread.
        if (SUCCEEDED(invoked))
            ::SetErrorInfo(0, nullptr);
        return invoked;
    }

protected:
    // IUnknown answers with identity, which controls the object's life;
    // anything else comes from the interface table.
    HRESULT QueryIdentityOrTable(IUnknown* identity, REFIID iid, void** out) noexcept
    {
        if (!out)
            return E_POINTER;
        if (!::IsEqualIID(iid, IID_IUnknown))
            return QueryInterfaceTable(iid, out);
        *out = identity;
        identity->AddRef();
        return S_OK;
    }

    // The interface table, in its order; IUnknown is the caller's business.
    // The pointer handed out is AddRef'ed through itself, which reaches the
    // outer object for an aggregated one.
    HRESULT QueryInterfaceTable(REFIID iid, void** out) noexcept
    {
        IUnknown* found = nullptr;
        if (::IsEqualIID(iid, IID_ISupportErrorInfo))
            found = static_cast<ISupportErrorInfo*>(this);
        else if (::IsEqualIID(iid, IID_IOrbalinObj))
            found = static_cast<IOrbalinObj*>(this);
        else if (::IsEqualIID(iid, IID_IDispatch))
            found = static_cast<IDispatch*>(this);
        *out = found;
        if (!found)
            return E_NOINTERFACE;
        found->AddRef();
        return S_OK;
    }

public:
    // The identity: the pointer of the table's first row.
    IUnknown* Identity() noexcept { return static_cast<ISupportErrorInfo*>(this); }
};

class PlainServerObject final : public DispatchingObj {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override
    {
        return QueryIdentityOrTable(Identity(), iid, out);
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_references; }

    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const ULONG remaining = --m_references;
        if (remaining == 0)
            delete this;
        return remaining;
    }

private:
    std::atomic<ULONG> m_references{0};
};

// Part of an aggregate: the outer object owns the identity and the
// reference count of every interface but the inner IUnknown, which alone
// controls this object's life. The outer pointer is not AddRef'ed (that
// would make a cycle).
class AggregatedServerObject final : public DispatchingObj {
public:
    explicit AggregatedServerObject(IUnknown* outer) noexcept : m_outer(outer), m_inner(*this) {}

    IUnknown* Inner() noexcept { return &m_inner; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override
    {
        if (!out)
            return E_POINTER;
        if (SUCCEEDED(m_outer->QueryInterface(iid, out)))
            return S_OK;
        return QueryInterfaceTable(iid, out);
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return m_outer->Release(); }

private:
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(AggregatedServerObject& object) noexcept : m_object(object) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override
        {
            return m_object.QueryIdentityOrTable(this, iid, out);
        }

        ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_references; }

        ULONG STDMETHODCALLTYPE Release() noexcept override
        {
            const ULONG remaining = --m_references;
            if (remaining == 0)
                delete &m_object;
            return remaining;
        }

    private:
        AggregatedServerObject& m_object;
        std::atomic<ULONG> m_references{0};
    };

    IUnknown* m_outer;
    InnerUnknown m_inner;
};

// Asks a newly made object (reference count 0) for iid; a refusal
// destroys it.
HRESULT HandOut(IUnknown* fresh, REFIID iid, void** out) noexcept
{
    fresh->AddRef();
    const HRESULT hr = fresh->QueryInterface(iid, out);
    fresh->Release();
    return hr;
}

}  // namespace

HRESULT CreateServerObject(IUnknown* outer, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return lorvane::win::ComGuarded([&] {
        if (!outer) {
            auto* object = new PlainServerObject();
            return HandOut(object->Identity(), iid, out);
        }
        // An aggregated object hands out only its inner IUnknown.
        if (!::IsEqualIID(iid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        auto* object = new AggregatedServerObject(outer);
        return HandOut(object->Inner(), iid, out);
    });
}

}  // namespace orbalin
