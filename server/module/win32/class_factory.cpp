#include "server/module/win32/class_factory.h"

#include <mutex>
#include <new>

namespace orbalin {

namespace {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ObjectCreator objectCreator) noexcept : m_objectCreator(objectCreator) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override
    {
        if (!out)
            return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // The count moves under the factory's own lock so that the steps
    // between 1 (the module's cached reference) and 2 change the library's
    // lock count exactly once each.
    ULONG STDMETHODCALLTYPE AddRef() noexcept override
    {
        std::lock_guard guard(m_referencesLock);
        if (++m_references == 2)
            Module().Lock();
        return m_references;
    }

    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        ULONG remaining;
        {
            std::lock_guard guard(m_referencesLock);
            remaining = --m_references;
            if (remaining == 1)
                Module().Unlock();
        }
        if (remaining == 0)
            delete this;
        return remaining;
    }

    // The creator checks the out pointer and the rules of aggregation.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override
    {
        return m_objectCreator(outer, iid, out);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        // Not clamped at zero: a client that unlocks before it locks (two
        // threads, either order) still ends balanced, and meanwhile the
        // library answers that it cannot unload.
        if (lock)
            Module().Lock();
        else
            Module().Unlock();
        return S_OK;
    }

private:
    ObjectCreator m_objectCreator;
    std::mutex m_referencesLock;
    ULONG m_references = 0;
};

}  // namespace

HRESULT CreateClassFactory(ObjectCreator objectCreator, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto* factory = new (std::nothrow) ClassFactory(objectCreator);
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    if (FAILED(hr))
        delete factory;
    return hr;
}

}  // namespace orbalin
