// Walks the type library that the server ships (embedded here as TYPELIB 1,
// as in the server) and checks it member by member against the contract.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "common/win/unique_bstr.h"
#include "common/win/unique_type_attr.h"
#include "server/contract/orbalin_contract.h"
#include "tests/wine/common/library_attributes.h"

namespace {

using lorvane::win::UniqueBstr;
using lorvane::win::UniqueFuncDesc;
using lorvane::win::UniqueTypeAttr;
using lorvane::win::UniqueVarDesc;
using Microsoft::WRL::ComPtr;

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring TextOf(const UniqueBstr& value)
{
    return value ? value.Text() : L"<null>";
}

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::LoadTypeLibEx(OwnPath().c_str(), REGKIND_NONE, &library), S_OK);
    }

    ComPtr<ITypeInfo> TypeAt(UINT index)
    {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(library->GetTypeInfo(index, &info), S_OK);
        return info;
    }

    std::wstring NameAt(UINT index)
    {
        UniqueBstr name;
        library->GetDocumentation(static_cast<INT>(index), name.Receive(), nullptr, nullptr, nullptr);
        return TextOf(name);
    }

    // The vtable view of the dual interface.
    ComPtr<ITypeInfo> InterfaceView()
    {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(library->GetTypeInfoOfGuid(IID_IOrbalinObj, &info), S_OK);
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtableView;
        EXPECT_EQ(info->GetRefTypeOfImplType(-1, &ref), S_OK);
        EXPECT_EQ(info->GetRefTypeInfo(ref, &vtableView), S_OK);
        return vtableView;
    }

    ComPtr<ITypeLib> library;
};

TEST_F(TypeLibraryTest, LibraryAttributes)
{
    UniqueBstr helpFile;
    ASSERT_NO_FATAL_FAILURE(orbalin::test::ExpectLibraryAttributes(library.Get(), helpFile));
    EXPECT_EQ(TextOf(helpFile), L"<null>");
}

TEST_F(TypeLibraryTest, ThreeTypesInOrder)
{
    ASSERT_EQ(library->GetTypeInfoCount(), 3u);
    const std::wstring names[] = {L"ErrorCodes", L"OrbalinObj", L"IOrbalinObj"};
    const TYPEKIND kinds[] = {TKIND_ENUM, TKIND_COCLASS, TKIND_DISPATCH};
    for (UINT i = 0; i < 3; ++i) {
        TYPEKIND kind;
        ASSERT_EQ(library->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, kinds[i]) << i;
        EXPECT_EQ(NameAt(i), names[i]);
    }
}

TEST_F(TypeLibraryTest, ErrorCodesPublishesTwoStatusValues)
{
    ComPtr<ITypeInfo> info = TypeAt(0);
    UniqueTypeAttr attributes;
    ASSERT_EQ(info->GetTypeAttr(attributes.Receive(info.Get())), S_OK);
    EXPECT_EQ(attributes->cVars, 2);
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, GUID_NULL));
    EXPECT_EQ(attributes->wMajorVerNum, 0);

    const std::pair<const wchar_t*, LONG> expected[] = {{L"Success", 262144}, {L"ErrorNotResponding", 262145}};
    for (UINT i = 0; i < 2; ++i) {
        UniqueVarDesc variable;
        ASSERT_EQ(info->GetVarDesc(i, variable.Receive(info.Get())), S_OK);
        UniqueBstr name;
        UINT count = 0;
        info->GetNames(variable->memid, name.Receive(), 1, &count);
        EXPECT_EQ(TextOf(name), expected[i].first);
        EXPECT_EQ(V_VT(variable->lpvarValue), VT_I4);
        EXPECT_EQ(V_I4(variable->lpvarValue), expected[i].second);
    }
}

TEST_F(TypeLibraryTest, ClassIsCreatableWithTheDefaultInterface)
{
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_OrbalinObj, &info), S_OK);
    UniqueTypeAttr attributes;
    ASSERT_EQ(info->GetTypeAttr(attributes.Receive(info.Get())), S_OK);
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attributes->cImplTypes, 1);
    INT flags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    UniqueBstr help;
    info->GetDocumentation(MEMBERID_NIL, nullptr, help.Receive(), nullptr, nullptr);
    EXPECT_EQ(TextOf(help), L"OrbalinObj Class");
}

struct Member {
    DISPID id;
    INVOKEKIND kind;
    const wchar_t* name;
    VARTYPE parameter;  // VT_EMPTY: none; VT_BYREF|x: out, retval
    const wchar_t* parameterName;
    const wchar_t* help;
};

TEST_F(TypeLibraryTest, InterfaceHasThirteenMembersInSlotOrder)
{
    const Member members[] = {
        {1, INVOKE_PROPERTYGET, L"Code", VT_BYREF | VT_BSTR, L"pVal", L"property Code"},
        {1, INVOKE_PROPERTYPUT, L"Code", VT_BSTR, nullptr, L"property Code"},
        {2, INVOKE_PROPERTYGET, L"Name", VT_BYREF | VT_BSTR, L"pVal", L"property Name"},
        {2, INVOKE_PROPERTYPUT, L"Name", VT_BSTR, nullptr, L"property Name"},
        {3, INVOKE_PROPERTYGET, L"Price", VT_BYREF | VT_R8, L"pVal", L"property Price"},
        {3, INVOKE_PROPERTYPUT, L"Price", VT_R8, nullptr, L"property Price"},
        {4, INVOKE_PROPERTYGET, L"Quantity", VT_BYREF | VT_R8, L"pVal", L"property Quantity"},
        {4, INVOKE_PROPERTYPUT, L"Quantity", VT_R8, nullptr, L"property Quantity"},
        {5, INVOKE_PROPERTYGET, L"DeviceNumber", VT_BYREF | VT_I4, L"pVal", L"property DeviceNumber"},
        {5, INVOKE_PROPERTYPUT, L"DeviceNumber", VT_I4, nullptr, L"property DeviceNumber"},
        {6, INVOKE_FUNC, L"InitOrbalin", VT_EMPTY, nullptr, L"method InitOrbalin"},
        {7, INVOKE_FUNC, L"SendCommand", VT_I2, L"cmdCode", L"method SendCommand"},
        {8, INVOKE_FUNC, L"CheckStatus", VT_BYREF | VT_I4, L"retVal", L"method CheckStatus"},
    };
    ComPtr<ITypeInfo> info = InterfaceView();
    UniqueTypeAttr attributes;
    ASSERT_EQ(info->GetTypeAttr(attributes.Receive(info.Get())), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attributes->cFuncs, 13);
    EXPECT_EQ(attributes->cbSizeVft, 20 * sizeof(void*));
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, IID_IOrbalinObj));

    UniqueBstr help;
    info->GetDocumentation(MEMBERID_NIL, nullptr, help.Receive(), nullptr, nullptr);
    EXPECT_EQ(TextOf(help), L"IOrbalinObj Interface");

    for (UINT index = 0; index < 13; ++index) {
        const Member& member = members[index];
        SCOPED_TRACE(index);
        UniqueFuncDesc function;
        ASSERT_EQ(info->GetFuncDesc(index, function.Receive(info.Get())), S_OK);
        EXPECT_EQ(function->memid, member.id);
        EXPECT_EQ(function->invkind, member.kind);
        EXPECT_EQ(function->oVft, static_cast<SHORT>((7 + index) * sizeof(void*)));
        EXPECT_EQ(function->callconv, CC_STDCALL);
        EXPECT_EQ(function->wFuncFlags, 0);
        EXPECT_EQ(function->cParamsOpt, 0);
        EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
        if (member.parameter == VT_EMPTY) {
            EXPECT_EQ(function->cParams, 0);
        } else {
            ASSERT_EQ(function->cParams, 1);
            const ELEMDESC& parameter = function->lprgelemdescParam[0];
            if (member.parameter & VT_BYREF) {
                ASSERT_EQ(parameter.tdesc.vt, VT_PTR);
                EXPECT_EQ(parameter.tdesc.lptdesc->vt, member.parameter & ~VT_BYREF);
                EXPECT_EQ(parameter.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
            } else {
                EXPECT_EQ(parameter.tdesc.vt, member.parameter);
                EXPECT_EQ(parameter.paramdesc.wParamFlags, PARAMFLAG_FIN);
            }
        }
        // Names by member id come from the first function with that id (the
        // get accessor for a property); the put accessor's own parameter
        // carries no name in the library.
        if (member.kind != INVOKE_PROPERTYPUT) {
            BSTR received[3] = {};
            UINT count = 0;
            const HRESULT hr = info->GetNames(member.id, received, 3, &count);
            UniqueBstr names[3];
            for (std::size_t i = 0; i < std::size(names); ++i)
                names[i].Reset(received[i]);
            ASSERT_EQ(hr, S_OK);
            ASSERT_EQ(count, member.parameterName != nullptr ? 2u : 1u);
            EXPECT_EQ(TextOf(names[0]), member.name);
            if (count == 2) {
                EXPECT_EQ(TextOf(names[1]), member.parameterName);
            }
        }
        UniqueBstr memberHelp;
        DWORD context = 1;
        info->GetDocumentation(member.id, nullptr, memberHelp.Receive(), &context, nullptr);
        EXPECT_EQ(TextOf(memberHelp), member.help);
        EXPECT_EQ(context, 0u);
    }
}

TEST_F(TypeLibraryTest, LateBoundNamesResolveToTheirDispatchIdentifiers)
{
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IOrbalinObj, &info), S_OK);
    const std::pair<const wchar_t*, MEMBERID> expected[] = {
        {L"Code", 1},        {L"Name", 2},        {L"Price", 3},       {L"Quantity", 4},
        {L"DeviceNumber", 5}, {L"InitOrbalin", 6}, {L"SendCommand", 7}, {L"CheckStatus", 8},
    };
    for (const auto& [name, id] : expected) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        MEMBERID found = 0;
        ASSERT_EQ(info->GetIDsOfNames(names, 1, &found), S_OK) << name;
        EXPECT_EQ(found, id) << name;
    }
}

}  // namespace
