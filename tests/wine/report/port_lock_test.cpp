#include "tool/report/win32/port_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win/unique_handle.h"
#include "common/win/unique_memory.h"

namespace quillon::report {
namespace {

using lorvane::win::UniqueHandle;
using lorvane::win::UniqueLocalMemory;

// The DACL of a kernel object, in SDDL.
std::wstring DaclText(HANDLE object)
{
    PACL dacl = nullptr;
    UniqueLocalMemory<void> descriptor;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                          descriptor.Receive()) != ERROR_SUCCESS)
        return L"(unreadable)";
    UniqueLocalMemory<wchar_t> text;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, text.Receive(), nullptr))
        return L"(unconvertible)";
    return text.Get();
}

// Every account that may use the port waits on its lock: a person's run
// behind a SYSTEM task gets "busy", never "access denied".
TEST(ReportPortLock, EverySignedInAccountMayWaitOnTheLock)
{
    HeldPortLock held;
    OpenResult result;
    ASSERT_TRUE(TakePortLock("COM77", held, result)) << result.reason;
    // The run's own handle may only wait and release; the rights are read through another.
    const UniqueHandle reader(::OpenMutexW(READ_CONTROL, FALSE, PortLockName("COM77").c_str()));
    ASSERT_TRUE(reader);
    const std::wstring dacl = DaclText(reader.Get());
    EXPECT_NE(dacl.find(L"(A;;0x100001;;;AU)"), std::wstring::npos) << std::string(dacl.begin(), dacl.end());
    EXPECT_EQ(dacl.find(L";;;WD)"), std::wstring::npos) << "not the anonymous logon's too";
}

// A lock made first by another account, with rights that leave us none.
TEST(ReportPortLock, ALockClosedToUsMeansThePortIsBusy)
{
    UniqueLocalMemory<void> noRights;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, noRights.Receive(),
                                                                       nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, noRights.Get(), FALSE};
    const UniqueHandle other(::CreateMutexExW(&attributes, PortLockName("COM78").c_str(), 0, MUTEX_ALL_ACCESS));
    ASSERT_TRUE(other);
    HeldPortLock held;
    OpenResult result;
    EXPECT_FALSE(TakePortLock("COM78", held, result));
    EXPECT_EQ(result.status, OpenStatus::Busy) << result.reason;
    EXPECT_NE(result.reason.find("COM78 is locked by another account's program"), std::string::npos) << result.reason;
}

}  // namespace
}  // namespace quillon::report
