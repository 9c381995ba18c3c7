// Orbalin.dll as a component, without the registry: lock counting, the
// class object, aggregation and interface identity; the version block and
// the assembly manifest shipped beside the library.
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "common/win/unique_type_attr.h"
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

// The start tag of the first element named element, or empty.
std::string StartTag(const std::string& xml, const std::string& element)
{
    const std::size_t at = xml.find("<" + element + " ");
    return at == std::string::npos ? std::string() : xml.substr(at, xml.find('>', at) - at);
}

std::string Attribute(const std::string& tag, const std::string& name)
{
    const std::string key = " " + name + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string::npos)
        return "<missing>";
    const std::size_t start = at + key.size();
    return tag.substr(start, tag.find('"', start) - start);
}

std::string Narrow(const wchar_t* text) { return std::string(text, text + std::wcslen(text)); }

std::string GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return Narrow(text);
}

// Orbalin.manifest names what the type library inside the DLL holds: the
// library and its version, the creatable class, its default interface; the
// class's names and threading model are the registration script's, the
// assembly version is the library's file version.
TEST(AssemblyManifest, AgreesWithTheLibraryItShipsWith)
{
    std::string xml;
    {
        FILE* file = ::_wfopen(kOrbalinManifestPath, L"rb");
        ASSERT_NE(file, nullptr) << "no Orbalin.manifest beside the library";
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            xml.append(buffer, n);
        std::fclose(file);
    }

    const std::string identity = StartTag(xml, "assemblyIdentity");
    EXPECT_EQ(Attribute(identity, "name"), "Orbalin");
    EXPECT_EQ(Attribute(identity, "type"), "win32");
    EXPECT_EQ(Attribute(identity, "processorArchitecture"), sizeof(void*) == 8 ? "amd64" : "x86");
    DWORD ignored = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(kOrbalinDllPath, &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(kOrbalinDllPath, 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(Attribute(identity, "version"),
              std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                  "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                  std::to_string(LOWORD(fixed->dwFileVersionLS)));
    EXPECT_EQ(Attribute(StartTag(xml, "file"), "name"), "Orbalin.dll");

    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLib(kOrbalinDllPath, &library), S_OK);
    lorvane::win::UniqueTlibAttr libraryAttributes;
    ASSERT_EQ(library->GetLibAttr(libraryAttributes.Receive(library.Get())), S_OK);
    const std::string libraryId = GuidText(libraryAttributes->guid);
    const std::string libraryVersion = std::to_string(libraryAttributes->wMajorVerNum) + "." +
                                       std::to_string(libraryAttributes->wMinorVerNum);
    const std::string typelib = StartTag(xml, "typelib");
    EXPECT_EQ(Attribute(typelib, "tlbid"), libraryId);
    EXPECT_EQ(Attribute(typelib, "version"), libraryVersion);

    // The class: a coclass of this library whose default interface is the
    // one the proxy-stub entry names.
    const std::string comClass = StartTag(xml, "comClass");
    EXPECT_EQ(Attribute(comClass, "tlbid"), libraryId);
    EXPECT_EQ(Attribute(comClass, "threadingModel"), "Both");
    const std::string classText = Attribute(comClass, "clsid");
    CLSID classId{};
    ASSERT_EQ(::CLSIDFromString(std::wstring(classText.begin(), classText.end()).c_str(), &classId), S_OK);
    EXPECT_TRUE(::IsEqualCLSID(classId, CLSID_OrbalinObj));
    ComPtr<ITypeInfo> classInfo, defaultInterface;
    ASSERT_EQ(library->GetTypeInfoOfGuid(classId, &classInfo), S_OK) << "class not in the type library";
    lorvane::win::UniqueTypeAttr classAttributes;
    ASSERT_EQ(classInfo->GetTypeAttr(classAttributes.Receive(classInfo.Get())), S_OK);
    EXPECT_EQ(classAttributes->typekind, TKIND_COCLASS);
    HREFTYPE reference = 0;
    ASSERT_EQ(classInfo->GetRefTypeOfImplType(0, &reference), S_OK);
    ASSERT_EQ(classInfo->GetRefTypeInfo(reference, &defaultInterface), S_OK);
    lorvane::win::UniqueTypeAttr interfaceAttributes;
    ASSERT_EQ(defaultInterface->GetTypeAttr(interfaceAttributes.Receive(defaultInterface.Get())), S_OK);
    const std::string interfaceId = GuidText(interfaceAttributes->guid);
    Bstr interfaceName;
    ASSERT_EQ(defaultInterface->GetDocumentation(MEMBERID_NIL, interfaceName.Receive(), nullptr, nullptr, nullptr),
              S_OK);
    const std::string name = Narrow(interfaceName.Get());

    const std::string proxyStub = StartTag(xml, "comInterfaceExternalProxyStub");
    EXPECT_EQ(Attribute(proxyStub, "iid"), interfaceId);
    EXPECT_EQ(Attribute(proxyStub, "name"), name);
    EXPECT_EQ(Attribute(proxyStub, "tlbid"), libraryId);
    // Marshalled through the type library by the automation marshaller.
    EXPECT_EQ(Attribute(proxyStub, "proxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");

    // Both programmatic names, as the library's own registration script
    // writes them: the version-dependent one as the class's ProgID.
    HMODULE dll = ::LoadLibraryExW(kOrbalinDllPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    HRSRC resource = ::FindResourceW(dll, MAKEINTRESOURCEW(101), L"REGISTRY");
    ASSERT_NE(resource, nullptr);
    const std::string script(static_cast<const char*>(::LockResource(::LoadResource(dll, resource))),
                             ::SizeofResource(dll, resource));
    ::FreeLibrary(dll);
    const std::size_t open = xml.find("<progid>"), close = xml.find("</progid>");
    ASSERT_NE(open, std::string::npos);
    const std::string independent = xml.substr(open + 8, close - open - 8);
    EXPECT_NE(script.find("\tProgID = s '" + Attribute(comClass, "progid") + "'"), std::string::npos)
        << Attribute(comClass, "progid");
    EXPECT_NE(script.find("VersionIndependentProgID = s '" + independent + "'"), std::string::npos) << independent;
}

}  // namespace
}  // namespace orbalin::test
