#include "tool/report/win32/com_port_list.h"

#include <gtest/gtest.h>

#include <string>

#include "tool/report/com_port_name.h"

namespace quillon::report {
namespace {

using namespace std::string_view_literals;

TEST(ReportPortUsbId, ReadsVendorAndProductFromUsbAndFtdiIds)
{
    EXPECT_EQ(UsbIdFromHardwareIds(L"USB\\VID_0403&PID_6001&REV_0600\0USB\\VID_0403&PID_6001\0\0"sv), "0403:6001");
    EXPECT_EQ(UsbIdFromHardwareIds(L"FTDIBUS\\VID_0403+PID_6015+DK0B1234A\\0000\0\0"sv), "0403:6015");
    EXPECT_EQ(UsbIdFromHardwareIds(L"USB\\Vid_067B&Pid_23A3&Rev_0300\0"sv), "067b:23a3");
    // The first id without both numbers gives way to a later one.
    EXPECT_EQ(UsbIdFromHardwareIds(L"USB\\Class_02&SubClass_02\0USB\\VID_2341&PID_0043\0\0"sv), "2341:0043");
}

TEST(ReportPortUsbId, EmptyWhereTheIdsNameNoUsbDevice)
{
    EXPECT_EQ(UsbIdFromHardwareIds(L"ACPI\\PNP0501\0*PNP0501\0\0"sv), "");
    EXPECT_EQ(UsbIdFromHardwareIds(L"USB\\VID_0403\0\0"sv), "");
    EXPECT_EQ(UsbIdFromHardwareIds(L"USB\\VID_04G3&PID_6001\0\0"sv), "");
    EXPECT_EQ(UsbIdFromHardwareIds(L"USB\\VID_0403&PID_60\0"sv), "");
    EXPECT_EQ(UsbIdFromHardwareIds(L""), "");
}

// The bed maps COM1..COM4 through HKLM\Software\Wine\Ports; Wine makes no
// Ports-class devices for them, so this shows the serial device map is read.
TEST(ReportPortList, ListsTheBedsMappedPortsInNumberOrder)
{
    const auto ports = ListSerialPorts();
    unsigned previous = 0;
    int mapped = 0;
    for (const auto& port : ports) {
        const unsigned number = ComPortNumber(std::string_view(port.name), kHighestComPort);
        ASSERT_NE(number, 0u) << port.name;
        EXPECT_GT(number, previous) << port.name;
        previous = number;
        mapped += number <= 4;
    }
    EXPECT_EQ(mapped, 4);
}

}  // namespace
}  // namespace quillon::report
