#include "tool/report/posix/tty_port_list.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace quillon::report {
namespace {

namespace fs = std::filesystem;

// A sysfs and /dev laid out as the kernel and udev do, with relative links,
// so that resolving them stays inside the temporary folder.
class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/port-list-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    void Write(const fs::path& file, const std::string& text)
    {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    }
    void Link(const fs::path& at, const fs::path& target)
    {
        fs::create_directories((root / at).parent_path());
        fs::create_symlink(target, root / at);
    }
    // devices/<deviceDir>/<ttyParent>/tty/<name> with its class link and,
    // when deviceLink is given, the link to the device it belongs to.
    void Tty(const std::string& name, const fs::path& ttyParent, const fs::path& deviceLink = {})
    {
        const fs::path dir = fs::path("sys/devices") / ttyParent / "tty" / name;
        fs::create_directories(root / dir);
        Link(fs::path("sys/class/tty") / name, fs::path("../../devices") / ttyParent / "tty" / name);
        if (!deviceLink.empty())
            Link(dir / "device", deviceLink);
    }
    void UsbDevice(const fs::path& dir, const std::string& vendor, const std::string& product,
                   const std::string& maker, const std::string& name)
    {
        Write(fs::path("sys/devices") / dir / "idVendor", vendor + "\n");
        Write(fs::path("sys/devices") / dir / "idProduct", product + "\n");
        if (!maker.empty())
            Write(fs::path("sys/devices") / dir / "manufacturer", maker + "\n");
        Write(fs::path("sys/devices") / dir / "product", name + "\n");
    }

    fs::path root;
};

TEST_F(FakeSystem, ListsDevicePortsWithUsbIdentityAndByIdLinks)
{
    const fs::path hub = "pci0000:00/0000:00:14.0/usb1";
    UsbDevice(hub, "1d6b", "0002", "Linux Foundation", "xHCI Host Controller");

    // usb-serial: the tty hangs under the interface's port node.
    UsbDevice(hub / "1-2", "0403", "6001", "FTDI", "FT232R USB UART");
    fs::create_directories(root / "sys/devices" / hub / "1-2/1-2:1.0/ttyUSB2");
    Tty("ttyUSB2", hub / "1-2/1-2:1.0/ttyUSB2", "../../../ttyUSB2");
    Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB2");

    // A second adapter, no manufacturer string, no by-id link, upper-case hex.
    UsbDevice(hub / "1-4", "1A86", "7523", "", "USB Serial");
    fs::create_directories(root / "sys/devices" / hub / "1-4/1-4:1.0/ttyUSB10");
    Tty("ttyUSB10", hub / "1-4/1-4:1.0/ttyUSB10", "../../../ttyUSB10");

    // CDC ACM: the tty hangs directly under the interface.
    UsbDevice(hub / "1-3", "0483", "5740", "STMicroelectronics", "STM32 Virtual ComPort");
    Tty("ttyACM0", hub / "1-3/1-3:1.1", "../../../1-3:1.1");
    Link("dev/serial/by-id/usb-STMicroelectronics_STM32_Virtual_ComPort-if01", "../../ttyACM0");

    // A UART on the board, and a configured 8250 slot with nothing in it.
    Tty("ttyS0", "pnp0/00:05", "../../../00:05");
    Write("sys/devices/pnp0/00:05/tty/ttyS0/type", "4\n");
    Tty("ttyS1", "platform/serial8250", "../../../serial8250");
    Write("sys/devices/platform/serial8250/tty/ttyS1/type", "0\n");

    // A virtual console: no device behind it.
    Tty("tty0", "virtual");

    const auto ports = ListSerialPorts(root.string());
    ASSERT_EQ(ports.size(), 4u);

    EXPECT_EQ(ports[0].name, "/dev/ttyACM0");
    EXPECT_EQ(ports[0].description, "STMicroelectronics STM32 Virtual ComPort");
    EXPECT_EQ(ports[0].usbId, "0483:5740");
    EXPECT_EQ(ports[0].byId, "/dev/serial/by-id/usb-STMicroelectronics_STM32_Virtual_ComPort-if01");

    EXPECT_EQ(ports[1].name, "/dev/ttyS0");
    EXPECT_EQ(ports[1].description, "");
    EXPECT_EQ(ports[1].usbId, "");
    EXPECT_EQ(ports[1].byId, "");

    EXPECT_EQ(ports[2].name, "/dev/ttyUSB2");
    EXPECT_EQ(ports[2].description, "FTDI FT232R USB UART");
    EXPECT_EQ(ports[2].usbId, "0403:6001");
    EXPECT_EQ(ports[2].byId, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    EXPECT_EQ(ports[3].name, "/dev/ttyUSB10");
    EXPECT_EQ(ports[3].description, "USB Serial");
    EXPECT_EQ(ports[3].usbId, "1a86:7523");
    EXPECT_EQ(ports[3].byId, "");
}

TEST_F(FakeSystem, NoTreeOrNoPortsGivesAnEmptyList)
{
    EXPECT_TRUE(ListSerialPorts(root.string()).empty());
    Tty("tty1", "virtual");
    fs::create_directories(root / "dev/serial/by-id");
    EXPECT_TRUE(ListSerialPorts(root.string()).empty());
}

}  // namespace
}  // namespace quillon::report
