// The serial ports present on Linux, for quillon-report --ports: what sysfs
// knows of each tty that belongs to a device, with the USB identity and the
// stable /dev/serial/by-id name where there is one.
#pragma once

#include <string>
#include <vector>

#include "tool/report/serial_port_info.h"

namespace quillon::report {

// root is prepended to /sys and /dev (a test passes a fake tree). Names are
// "/dev/<tty>" and the by-id links "/dev/serial/by-id/<link>", whatever the
// root. Sorted by name, numbers by value (ttyUSB2 before ttyUSB10).
std::vector<SerialPortInfo> ListSerialPorts(const std::string& root = "/");

}  // namespace quillon::report
