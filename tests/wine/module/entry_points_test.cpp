// Orbalin.dll as a component, without the registry: lock counting, the
// class object, aggregation and interface identity.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "orbalin_library.h"

namespace orbalin::test {
namespace {

const IID kUnknownClass = {0x0badc0de, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78}};

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_library.Loaded()); }

    ComApartment m_apartment;
    OrbalinLibrary m_library;
};

TEST_F(EntryPoints, UnloadAllowedOnlyWhileNothingIsHeld)
{
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory = m_library.Factory();
    EXPECT_EQ(m_library.CanUnloadNow(), S_FALSE) << "client holds the class object";

    ComPtr<IOrbalinObj> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK);
    factory.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_FALSE) << "client holds an object";

    object.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, SecondReferenceToTheClassObjectLocksOnce)
{
    ComPtr<IClassFactory> first = m_library.Factory();
    ComPtr<IClassFactory> second = m_library.Factory();
    EXPECT_EQ(first.Get(), second.Get()) << "one cached class object";
    first.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_FALSE);
    second.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, LockServerAloneKeepsTheLibrary)
{
    ComPtr<IClassFactory> factory = m_library.Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_FALSE);

    factory = m_library.Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, UnknownClassIsNotAvailable)
{
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(m_library.GetClassObject(kUnknownClass, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(m_library.GetClassObject(CLSID_OrbalinObj, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, ClassObjectAnswersOnlyItsInterfaces)
{
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(m_library.GetClassObject(CLSID_OrbalinObj, IID_PPV_ARGS(&unknown)), S_OK);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(m_library.GetClassObject(CLSID_OrbalinObj, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    unknown.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, CreateInstanceRejectsBadRequests)
{
    ComPtr<IClassFactory> factory = m_library.Factory();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOrbalinObj, nullptr), E_POINTER);

    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    factory.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK) << "the refused object is destroyed";
}

TEST_F(EntryPoints, ObjectHasOneIdentityThroughEveryInterface)
{
    ComPtr<IOrbalinObj> object = m_library.NewObject();
    ASSERT_TRUE(object);
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(object.As(&dispatch), S_OK);
    ASSERT_EQ(object.As(&errorInfo), S_OK);

    ComPtr<IUnknown> viaObject, viaDispatch, viaErrorInfo;
    ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&viaObject)), S_OK);
    ASSERT_EQ(dispatch->QueryInterface(IID_PPV_ARGS(&viaDispatch)), S_OK);
    ASSERT_EQ(errorInfo->QueryInterface(IID_PPV_ARGS(&viaErrorInfo)), S_OK);
    EXPECT_EQ(viaObject.Get(), viaDispatch.Get());
    EXPECT_EQ(viaObject.Get(), viaErrorInfo.Get());

    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IOrbalinObj), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(EntryPoints, NewObjectHoldsAnEmptySaleLine)
{
    ComPtr<IOrbalinObj> object = m_library.NewObject();
    ASSERT_TRUE(object);
    Bstr code, name;
    double price = -1, quantity = -1;
    LONG device = -1;
    EXPECT_EQ(object->get_Code(code.Receive()), S_OK);
    EXPECT_EQ(object->get_Name(name.Receive()), S_OK);
    EXPECT_EQ(object->get_Price(&price), S_OK);
    EXPECT_EQ(object->get_Quantity(&quantity), S_OK);
    EXPECT_EQ(object->get_DeviceNumber(&device), S_OK);
    EXPECT_NE(code.Get(), nullptr);
    EXPECT_EQ(code.Text(), L"");
    EXPECT_EQ(name.Text(), L"");
    EXPECT_EQ(price, 0.0);
    EXPECT_EQ(quantity, 0.0);
    EXPECT_EQ(device, 0);
}

// An outer object that aggregates Orbalin: it owns the inner IUnknown and
// answers IUnknown itself, delegating everything else.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (::IsEqualIID(iid, IID_IPersist)) {  // refused by both, for the test
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return m_inner ? m_inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_references; }

    ULONG References() const { return m_references; }
    ComPtr<IUnknown> m_inner;

private:
    std::atomic<ULONG> m_references{1};
};

TEST_F(EntryPoints, AggregationNeedsIUnknown)
{
    ComPtr<IClassFactory> factory = m_library.Factory();
    Outer outer;
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IOrbalinObj, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    factory.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, AggregatedObjectDelegatesToTheOuterObject)
{
    Outer outer;
    {
        ComPtr<IClassFactory> factory = m_library.Factory();
        ASSERT_EQ(factory->CreateInstance(&outer, IID_PPV_ARGS(&outer.m_inner)), S_OK);
    }
    EXPECT_EQ(m_library.CanUnloadNow(), S_FALSE) << "the aggregated object locks the library";
    EXPECT_EQ(outer.References(), 1u) << "the inner object does not hold its outer";

    ComPtr<IUnknown> innerAgain;
    ASSERT_EQ(outer.m_inner->QueryInterface(IID_PPV_ARGS(&innerAgain)), S_OK);
    EXPECT_EQ(innerAgain.Get(), outer.m_inner.Get()) << "the inner IUnknown answers IUnknown with itself";
    innerAgain.Reset();

    {
        ComPtr<IOrbalinObj> object;
        ASSERT_EQ(outer.QueryInterface(IID_PPV_ARGS(&object)), S_OK);
        EXPECT_EQ(outer.References(), 2u) << "AddRef through IOrbalinObj reaches the outer object";

        ComPtr<IUnknown> identity;
        ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&identity)), S_OK);
        EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer)) << "identity is the outer object's";
        identity.Reset();

        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&dispatch)), S_OK);
        ComPtr<IPersist> refused;
        EXPECT_EQ(object->QueryInterface(IID_PPV_ARGS(&refused)), E_NOINTERFACE);

        ASSERT_EQ(object->put_Price(12.5), S_OK);
        double price = 0;
        ASSERT_EQ(object->get_Price(&price), S_OK);
        EXPECT_EQ(price, 12.5);
    }
    EXPECT_EQ(outer.References(), 1u);

    outer.m_inner.Reset();
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK) << "releasing the inner IUnknown destroys the object";
}

// Several threads make, use and drop objects through one class object at
// once; every reference and lock must be given back.
TEST_F(EntryPoints, ConcurrentClientsLeaveNothingLocked)
{
    constexpr int kThreads = 8;
    constexpr int kObjectsPerThread = 400;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ComApartment apartment;
            for (int i = 0; i < kObjectsPerThread; ++i) {
                ComPtr<IClassFactory> factory;
                ComPtr<IOrbalinObj> object;
                if (m_library.GetClassObject(CLSID_OrbalinObj, IID_PPV_ARGS(&factory)) != S_OK ||
                    factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)) != S_OK) {
                    ++failures;
                    continue;
                }
                factory.Reset();
                const std::wstring code = L"T" + std::to_wstring(t) + L"-" + std::to_wstring(i);
                Bstr in(code.c_str()), out;
                LONG device = 0;
                ComPtr<IDispatch> dispatch;
                if (object->put_Code(in.Get()) != S_OK || object->put_DeviceNumber(t) != S_OK ||
                    object->get_Code(out.Receive()) != S_OK || object->get_DeviceNumber(&device) != S_OK ||
                    out.Text() != code || device != t || object.As(&dispatch) != S_OK)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

TEST(VersionBlock, DescribesTheModule)
{
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(kOrbalinDllPath, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(kOrbalinDllPath, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                 &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);

    auto text = [&](const wchar_t* name) -> std::wstring {
        wchar_t* value = nullptr;
        UINT chars = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars))
            return L"<missing>";
        return std::wstring(value, chars > 0 && value[chars - 1] == L'\0' ? chars - 1 : chars);
    };
    EXPECT_EQ(text(L"FileDescription"), L"Orbalin Module");
    EXPECT_EQ(text(L"ProductName"), L"Orbalin Module");
    EXPECT_EQ(text(L"FileVersion"), L"1, 0, 0, 1");
    EXPECT_EQ(text(L"ProductVersion"), L"1, 0, 0, 1");
    EXPECT_EQ(text(L"InternalName"), L"Orbalin");
    EXPECT_EQ(text(L"OriginalFilename"), L"Orbalin.DLL");
    EXPECT_EQ(text(L"OLESelfRegister"), L"");
}

}  // namespace
}  // namespace orbalin::test
