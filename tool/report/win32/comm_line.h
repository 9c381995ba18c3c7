// A serial line on Windows: COM1..COM256 opened as \\.\COMn (the only name
// that reaches COM10 and above) and set up exactly as the dialog's link
// sets up its port.
//
// The run takes the port for itself: the port is opened without sharing, and
// a named mutex per port is held as well, because some drivers (and Wine)
// let a second program open a port that is already open.
#pragma once

#include <memory>
#include <string>

#include "tool/report/report_program.h"

namespace quillon::report {

// baud is one of kLineSpeeds.
std::unique_ptr<SerialLine> OpenCommLine(const std::string& port, std::int64_t baud, OpenResult& result);

// "COM12" for any spelling that names port 12; the name as given otherwise.
std::string CanonicalComName(const std::string& port);

}  // namespace quillon::report
