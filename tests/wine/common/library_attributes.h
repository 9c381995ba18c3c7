// The type library's statements about itself, the same for the copy the
// server carries and for the registered one: identifier, locale, version
// 1.0, the target system of the server, name, help string and context.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "common/win/unique_bstr.h"
#include "common/win/unique_type_attr.h"
#include "server/contract/orbalin_contract.h"

namespace orbalin::test {

// helpFile receives the library's help file, which the two differ in.
inline void ExpectLibraryAttributes(ITypeLib* library, lorvane::win::UniqueBstr& helpFile)
{
    lorvane::win::UniqueTlibAttr attributes;
    ASSERT_EQ(library->GetLibAttr(attributes.Receive(library)), S_OK);
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, LIBID_ORBALINLib));
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    // The library records the target system of the server that carries it.
    EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);

    lorvane::win::UniqueBstr name;
    lorvane::win::UniqueBstr help;
    DWORD context = 99;
    ASSERT_EQ(library->GetDocumentation(-1, name.Receive(), help.Receive(), &context, helpFile.Receive()), S_OK);
    EXPECT_EQ(name.Text(), L"ORBALINLib");
    EXPECT_EQ(help.Text(), L"Orbalin 1.0 Type Library");
    EXPECT_EQ(context, 0u);
}

}  // namespace orbalin::test
