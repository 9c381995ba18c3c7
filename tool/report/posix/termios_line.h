// A serial line on Linux through termios: 9600 baud, 8 data bits, no parity,
// one stop bit, raw, no hardware or software flow control, DTR and RTS off
// where the device has them. Works on a real port and on a pty.
#pragma once

#include <memory>
#include <string>

#include "tool/report/report_program.h"

namespace quillon::report {

std::unique_ptr<SerialLine> OpenTermiosLine(const std::string& path, OpenStatus& status);

}  // namespace quillon::report
