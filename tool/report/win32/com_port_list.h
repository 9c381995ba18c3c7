// The serial ports present on Windows, for quillon-report --ports: the COM
// ports of the Ports device class with their friendly names and USB
// identities, and the ports of the serial device map that have no such
// device (Wine's among them).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tool/report/serial_port_info.h"

namespace quillon::report {

// Names are "COMn", sorted by n.
std::vector<SerialPortInfo> ListSerialPorts();

// "0403:6001" from a device's hardware ids as SPDRP_HARDWAREID gives them
// (NUL-separated), e.g. "USB\VID_0403&PID_6001&REV_0600" or
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"; empty when none names both.
std::string UsbIdFromHardwareIds(std::wstring_view ids);

}  // namespace quillon::report
