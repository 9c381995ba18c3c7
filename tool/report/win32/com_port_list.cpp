#include "tool/report/win32/com_port_list.h"

#include <windows.h>
#include <setupapi.h>
// devguid.h declares the class GUIDs; with initguid.h first they are
// defined here, as no import library carries them.
#include <initguid.h>
#include <devguid.h>

#include <algorithm>
#include <cwctype>
#include <map>

#include "common/win/text.h"
#include "common/win/unique_devinfo.h"
#include "common/win/unique_handle.h"
#include "tool/report/com_port_name.h"

namespace quillon::report {
namespace {

using lorvane::win::UniqueDevInfo;
using lorvane::win::UniqueHkey;

std::string Utf8(std::wstring_view text)
{
    while (!text.empty() && (text.back() == L'\0' || std::iswspace(text.back())))
        text.remove_suffix(1);
    return lorvane::win::CodePageFromWide(text, CP_UTF8);
}

// A device's registry property as wide characters (a MULTI_SZ keeps its
// inner NULs); empty when the device has none.
std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    DWORD bytes = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &bytes);
    if (bytes == 0)
        return {};
    // One spare character: the stored string need not end in a NUL.
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                             bytes, nullptr))
        return {};
    value.resize(bytes / sizeof(wchar_t));
    return value;
}

std::wstring PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    // Unlike RegOpenKeyEx this reports failure as INVALID_HANDLE_VALUE.
    const HKEY raw = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (raw == INVALID_HANDLE_VALUE)
        return {};
    const UniqueHkey key(raw);
    wchar_t name[64] = {};
    DWORD bytes = sizeof name;
    if (::RegGetValueW(key.Get(), nullptr, L"PortName", RRF_RT_REG_SZ, nullptr, name, &bytes) != ERROR_SUCCESS)
        return {};
    return name;
}

void AddPortsClass(std::map<unsigned, SerialPortInfo>& ports)
{
    const UniqueDevInfo set(::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    if (!set)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set.Get(), i, &device); ++i) {
        // The class also holds printer ports (LPTn).
        const unsigned number = ComPortNumber(std::wstring_view(PortNameOf(set.Get(), device)), kHighestComPort);
        if (number == 0 || ports.count(number) != 0)
            continue;
        SerialPortInfo port;
        port.name = "COM" + std::to_string(number);
        port.description = Utf8(DeviceProperty(set.Get(), device, SPDRP_FRIENDLYNAME));
        if (port.description.empty())
            port.description = Utf8(DeviceProperty(set.Get(), device, SPDRP_DEVICEDESC));
        port.usbId = UsbIdFromHardwareIds(DeviceProperty(set.Get(), device, SPDRP_HARDWAREID));
        ports.emplace(number, std::move(port));
    }
}

// Wine maps its ports (HKLM\Software\Wine\Ports and the host's ttys it
// finds) without a device in the Ports class, so SetupAPI lists none of
// them; the serial device map has them all. On Windows it also has ports
// whose driver makes no Ports-class device.
void AddSerialDeviceMap(std::map<unsigned, SerialPortInfo>& ports)
{
    UniqueHkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        DWORD nameLength = ARRAYSIZE(valueName);
        wchar_t data[64] = {};
        DWORD bytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(key.Get(), i, valueName, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &bytes);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;   // too long for a COM name, or not a name at all
        const unsigned number = ComPortNumber(std::wstring_view(data, bytes / sizeof(wchar_t)), kHighestComPort);
        if (number != 0 && ports.count(number) == 0)
            ports.emplace(number, SerialPortInfo{"COM" + std::to_string(number), {}, {}, {}});
    }
}

// Four hex digits at the start of text, lower-cased; empty otherwise.
std::string Hex4(std::wstring_view text)
{
    if (text.size() < 4)
        return {};
    std::string hex;
    for (const wchar_t c : text.substr(0, 4)) {
        if (!std::iswxdigit(c))
            return {};
        hex += static_cast<char>(std::towlower(c));
    }
    return hex;
}

std::wstring Upper(std::wstring_view text)
{
    std::wstring upper(text);
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    return upper;
}

}  // namespace

std::string UsbIdFromHardwareIds(std::wstring_view ids)
{
    while (!ids.empty()) {
        const std::size_t end = std::min(ids.find(L'\0'), ids.size());
        const std::wstring id = Upper(ids.substr(0, end));
        ids.remove_prefix(std::min(end + 1, ids.size()));
        const std::size_t vid = id.find(L"VID_");
        if (vid == std::wstring::npos)
            continue;
        const std::size_t pid = id.find(L"PID_", vid + 8);
        if (pid == std::wstring::npos)
            continue;
        const std::string vendor = Hex4(std::wstring_view(id).substr(vid + 4));
        const std::string product = Hex4(std::wstring_view(id).substr(pid + 4));
        if (!vendor.empty() && !product.empty())
            return vendor + ":" + product;
    }
    return {};
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    std::map<unsigned, SerialPortInfo> ports;
    AddPortsClass(ports);
    AddSerialDeviceMap(ports);
    std::vector<SerialPortInfo> list;
    list.reserve(ports.size());
    for (auto& [number, port] : ports)
        list.push_back(std::move(port));
    return list;
}

}  // namespace quillon::report
