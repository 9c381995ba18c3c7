// Orbalin.dll with the registry: late binding before and after
// DllRegisterServer in one process, the name lookups, and the registered
// type library checked member by member against the published contract.
//
// The type information is cached per process once loaded, so the test that
// starts unregistered runs first (tests run in the order written), and the
// concurrency test is run in a process of its own (see CMakeLists.txt).
#include <algorithm>
#include <array>
#include <cstdio>
#include <cwchar>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/win/unique_type_attr.h"
#include "common/win/unique_variant.h"
#include "orbalin_library.h"
#include "tests/wine/common/library_attributes.h"

namespace orbalin::test {
namespace {

using lorvane::win::UniqueFuncDesc;
using lorvane::win::UniqueTypeAttr;
using lorvane::win::UniqueVarDesc;
using lorvane::win::UniqueVariant;

class RegisteredDispatch : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_library.Loaded()); }

    ComPtr<IDispatch> NewDispatch()
    {
        ComPtr<IDispatch> dispatch;
        if (ComPtr<IOrbalinObj> object = m_library.NewObject()) {
            EXPECT_EQ(object.As(&dispatch), S_OK);
        }
        return dispatch;
    }

    static HRESULT IdOf(IDispatch* dispatch, const wchar_t* name, DISPID* id)
    {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    }

    static HRESULT Put(IDispatch* dispatch, DISPID id, VARIANT value)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS parameters{&value, &named, 1, 1};
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters, nullptr,
                                nullptr, nullptr);
    }

    static HRESULT Get(IDispatch* dispatch, DISPID id, VARIANT* result, WORD flags = DISPATCH_PROPERTYGET)
    {
        DISPPARAMS none{};
        ::VariantInit(result);
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, nullptr, nullptr);
    }

    static VARIANT Double(double value)
    {
        VARIANT v;
        ::VariantInit(&v);
        v.vt = VT_R8;
        v.dblVal = value;
        return v;
    }

    ComApartment m_apartment;
    OrbalinLibrary m_library;
};

TEST_F(RegisteredDispatch, LateBindingFailsUntilRegisteredThenWorksWithoutReload)
{
    m_library.UnregisterServer();
    ComPtr<IDispatch> dispatch = NewDispatch();
    ASSERT_TRUE(dispatch);

    DISPID id = 0;
    const HRESULT unregistered = IdOf(dispatch.Get(), L"Quantity", &id);
    EXPECT_TRUE(FAILED(unregistered)) << std::hex << unregistered;
    ComPtr<ITypeInfo> typeInfo;
    EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &typeInfo), unregistered);
    EXPECT_EQ(typeInfo, nullptr);
    VARIANT result;
    EXPECT_EQ(Get(dispatch.Get(), 4, &result), unregistered);

    ASSERT_EQ(m_library.RegisterServer(), S_OK);

    // The same object, the same loaded library: loading is tried again.
    ASSERT_EQ(IdOf(dispatch.Get(), L"Quantity", &id), S_OK);
    EXPECT_EQ(id, 4);
    ASSERT_EQ(Put(dispatch.Get(), id, Double(2.5)), S_OK);
    ASSERT_EQ(Get(dispatch.Get(), id, &result), S_OK);
    EXPECT_EQ(result.vt, VT_R8);
    EXPECT_EQ(result.dblVal, 2.5);

    ComPtr<IOrbalinObj> early;
    ASSERT_EQ(dispatch.As(&early), S_OK);
    double quantity = 0;
    ASSERT_EQ(early->get_Quantity(&quantity), S_OK);
    EXPECT_EQ(quantity, 2.5) << "late and early binding reach the same value";

    ASSERT_EQ(dispatch->GetTypeInfo(7, LOCALE_USER_DEFAULT, &typeInfo), S_OK) << "the index is not examined";
    UniqueTypeAttr attributes;
    ASSERT_EQ(typeInfo->GetTypeAttr(attributes.Receive(typeInfo.Get())), S_OK);
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, IID_IOrbalinObj));
    EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
}

TEST_F(RegisteredDispatch, NamesResolveExactlyAndThroughTheTypeInformation)
{
    ASSERT_EQ(m_library.RegisterServer(), S_OK);
    ComPtr<IDispatch> dispatch = NewDispatch();
    ASSERT_TRUE(dispatch);

    const std::array<std::pair<const wchar_t*, DISPID>, 11> expected = {{
        {L"Code", 1}, {L"Name", 2}, {L"Price", 3}, {L"Quantity", 4}, {L"DeviceNumber", 5},
        {L"InitOrbalin", 6}, {L"SendCommand", 7}, {L"CheckStatus", 8},
        // Not in the name table's spelling: the type information answers.
        {L"quantity", 4}, {L"DEVICENUMBER", 5}, {L"checkstatus", 8},
    }};
    for (const auto& [name, want] : expected) {
        DISPID id = -99;
        EXPECT_EQ(IdOf(dispatch.Get(), name, &id), S_OK) << name;
        EXPECT_EQ(id, want) << name;
    }

    DISPID id = -99;
    EXPECT_EQ(IdOf(dispatch.Get(), L"Discount", &id), DISP_E_UNKNOWNNAME);

    LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"SendCommand"), const_cast<LPOLESTR>(L"cmdCode")};
    DISPID ids[2] = {-99, -99};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, withParameter, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 7);
    EXPECT_EQ(ids[1], 0);
}

TEST_F(RegisteredDispatch, InvokeReachesEveryKindOfMember)
{
    ASSERT_EQ(m_library.RegisterServer(), S_OK);
    ComPtr<IDispatch> dispatch = NewDispatch();
    ASSERT_TRUE(dispatch);

    UniqueVariant code;
    code.Address()->vt = VT_BSTR;
    code.Address()->bstrVal = ::SysAllocString(L"4711");
    EXPECT_EQ(Put(dispatch.Get(), 1, code.Get()), S_OK);
    UniqueVariant result;
    ASSERT_EQ(Get(dispatch.Get(), 1, result.Receive()), S_OK);
    ASSERT_EQ(result->vt, VT_BSTR);
    EXPECT_STREQ(result->bstrVal, L"4711");

    // A double handed to a long property is converted by the type information.
    EXPECT_EQ(Put(dispatch.Get(), 5, Double(3.0)), S_OK);
    ASSERT_EQ(Get(dispatch.Get(), 5, result.Receive()), S_OK);
    EXPECT_EQ(result->vt, VT_I4);
    EXPECT_EQ(result->lVal, 3);

    // CheckStatus is a method whose retval comes back as the result.
    ASSERT_EQ(Get(dispatch.Get(), 8, result.Receive(), DISPATCH_METHOD), S_OK);
    EXPECT_EQ(result->vt, VT_I4);

    EXPECT_EQ(Get(dispatch.Get(), 42, result.Receive()), DISP_E_MEMBERNOTFOUND);
}

// The registered type library against the published contract.
struct Member {
    int slot;
    DISPID id;
    INVOKEKIND kind;
    const wchar_t* name;
    const wchar_t* parameterName;  // nullptr: unnamed or none
    VARTYPE parameterType;         // VT_EMPTY: no parameter
    bool byPointer;
    USHORT parameterFlags;
    const wchar_t* help;
};

constexpr USHORT kOutRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const Member kMembers[] = {
    {7, 1, INVOKE_PROPERTYGET, L"Code", L"pVal", VT_BSTR, true, kOutRetval, L"property Code"},
    {8, 1, INVOKE_PROPERTYPUT, L"Code", nullptr, VT_BSTR, false, PARAMFLAG_FIN, L"property Code"},
    {9, 2, INVOKE_PROPERTYGET, L"Name", L"pVal", VT_BSTR, true, kOutRetval, L"property Name"},
    {10, 2, INVOKE_PROPERTYPUT, L"Name", nullptr, VT_BSTR, false, PARAMFLAG_FIN, L"property Name"},
    {11, 3, INVOKE_PROPERTYGET, L"Price", L"pVal", VT_R8, true, kOutRetval, L"property Price"},
    {12, 3, INVOKE_PROPERTYPUT, L"Price", nullptr, VT_R8, false, PARAMFLAG_FIN, L"property Price"},
    {13, 4, INVOKE_PROPERTYGET, L"Quantity", L"pVal", VT_R8, true, kOutRetval, L"property Quantity"},
    {14, 4, INVOKE_PROPERTYPUT, L"Quantity", nullptr, VT_R8, false, PARAMFLAG_FIN, L"property Quantity"},
    {15, 5, INVOKE_PROPERTYGET, L"DeviceNumber", L"pVal", VT_I4, true, kOutRetval, L"property DeviceNumber"},
    {16, 5, INVOKE_PROPERTYPUT, L"DeviceNumber", nullptr, VT_I4, false, PARAMFLAG_FIN, L"property DeviceNumber"},
    {17, 6, INVOKE_FUNC, L"InitOrbalin", nullptr, VT_EMPTY, false, 0, L"method InitOrbalin"},
    {18, 7, INVOKE_FUNC, L"SendCommand", L"cmdCode", VT_I2, false, PARAMFLAG_FIN, L"method SendCommand"},
    {19, 8, INVOKE_FUNC, L"CheckStatus", L"retVal", VT_I4, true, kOutRetval, L"method CheckStatus"},
};

struct Documentation {
    std::wstring name, help, helpFile;
    DWORD context = 99;
};

Documentation DocumentationOf(ITypeInfo* typeInfo, MEMBERID id)
{
    Bstr name, help, file;
    Documentation doc;
    EXPECT_EQ(typeInfo->GetDocumentation(id, name.Receive(), help.Receive(), &doc.context, file.Receive()), S_OK);
    doc.name = name.Text();
    doc.help = help.Text();
    doc.helpFile = file.Text();
    return doc;
}

class Contract : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_library.Loaded());
        ASSERT_EQ(m_library.RegisterServer(), S_OK);
        ASSERT_EQ(::LoadRegTypeLib(LIBID_ORBALINLib, 1, 0, 0, &m_typeLib), S_OK);
    }

    // The vtable side of the dual interface.
    ComPtr<ITypeInfo> InterfaceTable()
    {
        ComPtr<ITypeInfo> dispatchSide, table;
        EXPECT_EQ(m_typeLib->GetTypeInfoOfGuid(IID_IOrbalinObj, &dispatchSide), S_OK);
        HREFTYPE reference = 0;
        EXPECT_EQ(dispatchSide->GetRefTypeOfImplType(-1, &reference), S_OK);
        EXPECT_EQ(dispatchSide->GetRefTypeInfo(reference, &table), S_OK);
        return table;
    }

    ComPtr<ITypeInfo> TypeAt(UINT index, TYPEKIND expectedKind)
    {
        TYPEKIND kind{};
        EXPECT_EQ(m_typeLib->GetTypeInfoType(index, &kind), S_OK);
        EXPECT_EQ(kind, expectedKind) << "type " << index;
        ComPtr<ITypeInfo> typeInfo;
        EXPECT_EQ(m_typeLib->GetTypeInfo(index, &typeInfo), S_OK);
        return typeInfo;
    }

    ComApartment m_apartment;
    OrbalinLibrary m_library;
    ComPtr<ITypeLib> m_typeLib;
};

TEST_F(Contract, LibraryAttributesAndTypeOrder)
{
    Bstr helpFile;
    ASSERT_NO_FATAL_FAILURE(ExpectLibraryAttributes(m_typeLib.Get(), helpFile));
    EXPECT_EQ(helpFile.Text(), L"");

    // Names and kinds in library order; a dual interface is listed by its
    // dispatch side.
    std::wstring listing;
    for (UINT index = 0; index < m_typeLib->GetTypeInfoCount(); ++index) {
        Bstr typeName;
        TYPEKIND kind{};
        ASSERT_EQ(m_typeLib->GetDocumentation(index, typeName.Receive(), nullptr, nullptr, nullptr), S_OK);
        ASSERT_EQ(m_typeLib->GetTypeInfoType(index, &kind), S_OK);
        listing += typeName.Text() + L":" + std::to_wstring(kind) + L" ";
    }
    EXPECT_EQ(listing, L"ErrorCodes:0 OrbalinObj:5 IOrbalinObj:4 ");
}

TEST_F(Contract, ErrorCodesPublishTheStatusValues)
{
    ComPtr<ITypeInfo> errorCodes = TypeAt(0, TKIND_ENUM);
    ASSERT_TRUE(errorCodes);
    UniqueTypeAttr attributes;
    ASSERT_EQ(errorCodes->GetTypeAttr(attributes.Receive(errorCodes.Get())), S_OK);
    EXPECT_EQ(attributes->cVars, 2);
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, GUID_NULL));
    EXPECT_EQ(attributes->wMajorVerNum, 0);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(DocumentationOf(errorCodes.Get(), MEMBERID_NIL).help, L"");

    const std::array<std::pair<const wchar_t*, LONG>, 2> values = {{{L"Success", 262144}, {L"ErrorNotResponding", 262145}}};
    for (UINT index = 0; index < values.size(); ++index) {
        UniqueVarDesc variable;
        ASSERT_EQ(errorCodes->GetVarDesc(index, variable.Receive(errorCodes.Get())), S_OK);
        EXPECT_EQ(variable->varkind, VAR_CONST);
        ASSERT_NE(variable->lpvarValue, nullptr);
        VARIANT value;
        ::VariantInit(&value);
        ASSERT_EQ(::VariantChangeType(&value, variable->lpvarValue, 0, VT_I4), S_OK);
        EXPECT_EQ(value.lVal, values[index].second);
        EXPECT_EQ(DocumentationOf(errorCodes.Get(), variable->memid).name, values[index].first);
    }
}

TEST_F(Contract, ClassIsCreatableWithIOrbalinObjAsDefault)
{
    ComPtr<ITypeInfo> coclass = TypeAt(1, TKIND_COCLASS);
    ASSERT_TRUE(coclass);
    UniqueTypeAttr attributes;
    ASSERT_EQ(coclass->GetTypeAttr(attributes.Receive(coclass.Get())), S_OK);
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, CLSID_OrbalinObj));
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attributes->cImplTypes, 1);
    EXPECT_EQ(DocumentationOf(coclass.Get(), MEMBERID_NIL).help, L"OrbalinObj Class");

    INT flags = -1;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE reference = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &implemented), S_OK);
    EXPECT_EQ(DocumentationOf(implemented.Get(), MEMBERID_NIL).name, L"IOrbalinObj");
}

TEST_F(Contract, InterfaceIsDualWithTwentySlots)
{
    ComPtr<ITypeInfo> dispatchSide;
    ASSERT_EQ(m_typeLib->GetTypeInfoOfGuid(IID_IOrbalinObj, &dispatchSide), S_OK);
    UniqueTypeAttr attributes;
    ASSERT_EQ(dispatchSide->GetTypeAttr(attributes.Receive(dispatchSide.Get())), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
    const Documentation doc = DocumentationOf(dispatchSide.Get(), MEMBERID_NIL);
    EXPECT_EQ(doc.help, L"IOrbalinObj Interface");
    EXPECT_EQ(doc.context, 0u);

    HREFTYPE reference = 0;
    ASSERT_EQ(dispatchSide->GetRefTypeOfImplType(-1, &reference), S_OK);
    ComPtr<ITypeInfo> table;
    ASSERT_EQ(dispatchSide->GetRefTypeInfo(reference, &table), S_OK);
    ASSERT_EQ(table->GetTypeAttr(attributes.Receive(table.Get())), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->cbSizeVft, 20 * sizeof(void*));
    EXPECT_EQ(attributes->cFuncs, 13);
    // Dual, automation-compatible, dispatchable; not hidden, restricted or
    // non-extensible.
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);

    ASSERT_EQ(table->GetRefTypeOfImplType(0, &reference), S_OK);
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(table->GetRefTypeInfo(reference, &base), S_OK);
    ASSERT_EQ(base->GetTypeAttr(attributes.Receive(base.Get())), S_OK);
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, IID_IDispatch));
}

TEST_F(Contract, EveryMemberMatchesItsSlotIdentifierTypeAndHelp)
{
    const ComPtr<ITypeInfo> table = InterfaceTable();
    ASSERT_TRUE(table);

    for (UINT index = 0; index < std::size(kMembers); ++index) {
        const Member& want = kMembers[index];
        SCOPED_TRACE(::testing::Message() << "slot " << want.slot);
        UniqueFuncDesc function;
        ASSERT_EQ(table->GetFuncDesc(index, function.Receive(table.Get())), S_OK);
        EXPECT_EQ(function->memid, want.id);
        EXPECT_EQ(function->invkind, want.kind);
        EXPECT_EQ(function->oVft, want.slot * static_cast<SHORT>(sizeof(void*)));
        EXPECT_EQ(function->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(function->callconv, CC_STDCALL);
        EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(function->cParamsOpt, 0);
        EXPECT_EQ(function->wFuncFlags, 0);
        const SHORT parameterCount = want.parameterType == VT_EMPTY ? 0 : 1;
        ASSERT_EQ(function->cParams, parameterCount);
        if (parameterCount == 1) {
            const ELEMDESC& parameter = function->lprgelemdescParam[0];
            if (want.byPointer) {
                ASSERT_EQ(parameter.tdesc.vt, VT_PTR);
                EXPECT_EQ(parameter.tdesc.lptdesc->vt, want.parameterType);
            } else {
                EXPECT_EQ(parameter.tdesc.vt, want.parameterType);
            }
            EXPECT_EQ(parameter.paramdesc.wParamFlags, want.parameterFlags);
        }

        // Get and put accessors share one identifier and so one help string.
        ComPtr<ITypeInfo2> table2;
        ASSERT_EQ(table.As(&table2), S_OK);
        Bstr help;
        DWORD context = 99;
        ASSERT_EQ(table2->GetDocumentation2(want.id, 0, help.Receive(), &context, nullptr), S_OK);
        EXPECT_EQ(help.Text(), want.help);
        Bstr name;
        ASSERT_EQ(table->GetDocumentation(want.id, name.Receive(), nullptr, &context, nullptr), S_OK);
        EXPECT_EQ(name.Text(), want.name);
        EXPECT_EQ(context, 0u);
    }
}

// Parameter names through the binding interface, which tells the get and
// put accessors of one property apart.
TEST_F(Contract, PutAccessorsHaveNoParameterName)
{
    const ComPtr<ITypeInfo> table = InterfaceTable();
    ASSERT_TRUE(table);

    for (UINT index = 0; index < std::size(kMembers); ++index) {
        const Member& want = kMembers[index];
        SCOPED_TRACE(::testing::Message() << "slot " << want.slot);
        MEMBERID id = MEMBERID_NIL;
        {
            UniqueFuncDesc function;
            ASSERT_EQ(table->GetFuncDesc(index, function.Receive(table.Get())), S_OK);
            id = function->memid;
        }

        ComPtr<ITypeComp> binder;
        ASSERT_EQ(table->GetTypeComp(&binder), S_OK);
        ComPtr<ITypeInfo> boundInfo;
        DESCKIND kind = DESCKIND_NONE;
        BINDPTR bound{};
        const WORD flags = want.kind == INVOKE_PROPERTYPUT ? INVOKE_PROPERTYPUT
                           : want.kind == INVOKE_PROPERTYGET ? INVOKE_PROPERTYGET
                                                              : INVOKE_FUNC;
        ASSERT_EQ(binder->Bind(const_cast<LPOLESTR>(want.name), 0, flags, &boundInfo, &kind, &bound), S_OK);
        ASSERT_EQ(kind, DESCKIND_FUNCDESC);
        const UniqueFuncDesc boundFunction(boundInfo.Get(), bound.lpfuncdesc);
        EXPECT_EQ(boundFunction->memid, id);
        EXPECT_EQ(boundFunction->invkind, want.kind);

        // A dispatch client asks by identifier; for a put accessor the
        // library holds the property's name only.
        BSTR received[3] = {};
        UINT count = 0;
        const HRESULT hr = boundInfo->GetNames(id, received, 3, &count);
        Bstr names[3];
        for (std::size_t i = 0; i < std::size(names); ++i)
            names[i].Reset(received[i]);
        ASSERT_EQ(hr, S_OK);
        ASSERT_GE(count, 1u);
        EXPECT_EQ(names[0].Text(), want.name);
        if (want.kind != INVOKE_PROPERTYPUT) {
            const UINT expectedCount = want.parameterName ? 2u : 1u;
            EXPECT_EQ(count, expectedCount);
            if (want.parameterName && count == 2) {
                EXPECT_EQ(names[1].Text(), want.parameterName);
            }
        }
    }
}

std::wstring RegisteredTypeLibraryPath(const wchar_t* subkey)
{
    wchar_t key[128];
    wchar_t libraryId[40];
    ::StringFromGUID2(LIBID_ORBALINLib, libraryId, 40);
    std::swprintf(key, std::size(key), L"TypeLib\\%ls\\1.0\\%ls", libraryId, subkey);
    wchar_t value[MAX_PATH * 2] = {};
    LONG size = sizeof value;
    if (::RegQueryValueW(HKEY_CLASSES_ROOT, key, value, &size) != ERROR_SUCCESS)
        return L"<absent>";
    return value;
}

// A copy of the library whose TYPELIB resource does not load registers the ".tlb"
// that lies beside it, with that folder as help directory.
TEST(TypeLibraryFallback, RegistersTheTlbBesideALibraryWhoseResourceFails)
{
    ComApartment apartment;
    const std::wstring folder = std::wstring(kTestWorkDir) + L"/fallback";
    const std::wstring dll = folder + L"/OrbalinCopy.dll";
    const std::wstring tlb = folder + L"/OrbalinCopy.tlb";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(kOrbalinDllPath, dll.c_str(), FALSE));
    // Spoil the embedded type library's signature ("MSFT", version 0x00010002):
    // the resource stays, but no longer loads as a type library.
    {
        FILE* file = _wfopen(dll.c_str(), L"r+b");
        ASSERT_NE(file, nullptr);
        std::fseek(file, 0, SEEK_END);
        std::vector<char> bytes(static_cast<std::size_t>(std::ftell(file)));
        std::rewind(file);
        ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
        const char signature[] = {'M', 'S', 'F', 'T', 0x02, 0x00, 0x01, 0x00};
        auto found = std::search(bytes.begin(), bytes.end(), std::begin(signature), std::end(signature));
        ASSERT_NE(found, bytes.end());
        std::fseek(file, static_cast<long>(found - bytes.begin()), SEEK_SET);
        std::fwrite("XXXX", 1, 4, file);
        std::fclose(file);
    }

    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    {
        HMODULE copy = ::LoadLibraryW(dll.c_str());
        ASSERT_NE(copy, nullptr);
        auto registerServer = reinterpret_cast<RegisterFn>(
            reinterpret_cast<void*>(::GetProcAddress(copy, "DllRegisterServer")));
        EXPECT_EQ(registerServer(), TYPE_E_CANTLOADLIBRARY) << "neither the resource nor a .tlb";
        ASSERT_TRUE(::CopyFileW(kOrbalinTlbPath, tlb.c_str(), FALSE));
        EXPECT_EQ(registerServer(), S_OK);
        ::FreeLibrary(copy);
    }
    auto windowsPath = [](std::wstring path) {
        for (wchar_t& c : path)
            c = c == L'/' ? L'\\' : c;
        return path;
    };
    const std::wstring registered = windowsPath(RegisteredTypeLibraryPath(sizeof(void*) == 8 ? L"0\\win64" : L"0\\win32"));
    EXPECT_EQ(_wcsicmp(registered.c_str(), windowsPath(tlb).c_str()), 0) << registered;
    const std::wstring helpDirectory = windowsPath(RegisteredTypeLibraryPath(L"HELPDIR"));
    EXPECT_EQ(_wcsicmp(helpDirectory.c_str(), windowsPath(folder + L"/").c_str()), 0) << helpDirectory;

    // Leave the build's own library registered.
    OrbalinLibrary library;
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.RegisterServer(), S_OK);
    ::DeleteFileW(dll.c_str());
    ::DeleteFileW(tlb.c_str());
}

// Run alone in a fresh process: the threads race to load the type
// information for the first time.
TEST_F(RegisteredDispatch, StressConcurrentLateBoundClients)
{
    ASSERT_EQ(m_library.RegisterServer(), S_OK);
    constexpr int kThreads = 8;
    constexpr int kObjectsPerThread = 200;
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ComApartment apartment;
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kObjectsPerThread; ++i) {
                ComPtr<IDispatch> dispatch;
                ComPtr<IClassFactory> factory;
                if (m_library.GetClassObject(CLSID_OrbalinObj, IID_PPV_ARGS(&factory)) != S_OK ||
                    factory->CreateInstance(nullptr, IID_PPV_ARGS(&dispatch)) != S_OK) {
                    ++failures;
                    continue;
                }
                factory.Reset();
                DISPID id = 0;
                VARIANT result;
                const double value = t * 1000 + i;
                if (IdOf(dispatch.Get(), (i % 2) ? L"Price" : L"price", &id) != S_OK || id != 3 ||
                    Put(dispatch.Get(), id, Double(value)) != S_OK || Get(dispatch.Get(), id, &result) != S_OK ||
                    result.vt != VT_R8 || result.dblVal != value)
                    ++failures;
            }
        });
    }
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(m_library.CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace orbalin::test
