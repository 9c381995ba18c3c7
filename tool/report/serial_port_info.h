// What --ports tells of a serial port, from whichever lister the platform has.
#pragma once

#include <string>

namespace quillon::report {

struct SerialPortInfo {
    std::string name;         // "COM5", "/dev/ttyUSB0"
    std::string description;  // friendly name / product, UTF-8; may be empty
    std::string usbId;        // "0403:6001" (lower-case hex vendor:product) where known, else empty
    std::string byId;         // Linux: the /dev/serial/by-id/... link that points at it, else empty
};

}  // namespace quillon::report
