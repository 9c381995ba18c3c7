// A serial line on Windows: COM1..COM4 opened and set up exactly as the
// dialog's link sets up its port.
#pragma once

#include <memory>
#include <string>

#include "tool/report/report_program.h"

namespace quillon::report {

std::unique_ptr<SerialLine> OpenCommLine(const std::string& port, OpenStatus& status);

}  // namespace quillon::report
