// A serial line on Linux through termios: 9600 baud, 8 data bits, no parity,
// one stop bit, raw, no hardware or software flow control, DTR and RTS off
// where the device has them. Works on a real port and on a pty.
//
// The run takes the port for itself: flock (other runs, and programs that
// lock the same way) and a look at who else has it open; once both found it
// free and it is set up, TIOCEXCL (later opens by others fail) until the
// line is closed. The port's own settings are put back at the end.
#pragma once

#include <memory>
#include <string>

#include "tool/report/report_program.h"

namespace quillon::report {

// baud is one of kLineSpeeds.
std::unique_ptr<SerialLine> OpenTermiosLine(const std::string& path, std::int64_t baud, OpenResult& result);

}  // namespace quillon::report
