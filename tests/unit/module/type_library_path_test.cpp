#include "server/module/type_library_path.h"

#include <gtest/gtest.h>

namespace orbalin {
namespace {

TEST(TypeLibraryFallbackPath, ReplacesTheExtension)
{
    EXPECT_EQ(TypeLibraryFallbackPath(L"C:\\Program Files\\Orbalin\\Orbalin.dll"),
              L"C:\\Program Files\\Orbalin\\Orbalin.tlb");
    EXPECT_EQ(TypeLibraryFallbackPath(L"C:\\pos\\Orbalin.server.dll"), L"C:\\pos\\Orbalin.server.tlb");
    EXPECT_EQ(TypeLibraryFallbackPath(L"Orbalin.DLL"), L"Orbalin.tlb");
}

TEST(TypeLibraryFallbackPath, AppendsWhenTheFileHasNoExtension)
{
    EXPECT_EQ(TypeLibraryFallbackPath(L"C:\\pos\\Orbalin"), L"C:\\pos\\Orbalin.tlb");
    EXPECT_EQ(TypeLibraryFallbackPath(L"Orbalin"), L"Orbalin.tlb");
    EXPECT_EQ(TypeLibraryFallbackPath(L""), L".tlb");
}

TEST(TypeLibraryFallbackPath, IgnoresADotInAFolderName)
{
    EXPECT_EQ(TypeLibraryFallbackPath(L"C:\\pos.v2\\Orbalin"), L"C:\\pos.v2\\Orbalin.tlb");
    EXPECT_EQ(TypeLibraryFallbackPath(L"/opt/pos.v2/Orbalin"), L"/opt/pos.v2/Orbalin.tlb");
    EXPECT_EQ(TypeLibraryFallbackPath(L"D:.\\Orbalin"), L"D:.\\Orbalin.tlb");
}

TEST(HelpDirectoryOf, KeepsEverythingUpToTheLastSeparator)
{
    EXPECT_EQ(HelpDirectoryOf(L"C:\\Program Files\\Orbalin\\Orbalin.dll"), L"C:\\Program Files\\Orbalin\\");
    EXPECT_EQ(HelpDirectoryOf(L"Z:/tmp/it's here/Orbalin.dll"), L"Z:/tmp/it's here/");
    EXPECT_EQ(HelpDirectoryOf(L"C:Orbalin.dll"), L"C:");
    EXPECT_EQ(HelpDirectoryOf(L"\\\\server\\share\\Orbalin.tlb"), L"\\\\server\\share\\");
}

TEST(HelpDirectoryOf, IsEmptyForABareFileName)
{
    EXPECT_EQ(HelpDirectoryOf(L"Orbalin.dll"), L"");
}

}  // namespace
}  // namespace orbalin
