// The one place where a serial port gets its line settings, event mask and
// time-outs, for the dialog's link and for the console program alike.
#pragma once

#include <windows.h>

namespace quillon {

// 9600 8N1, no flow control, DTR and RTS off; filled from zero, member by
// member, never merged with the port's own settings.
DCB PreparedLineSettings();
COMMTIMEOUTS PreparedTimeouts();

enum class PortSetup { Done, CannotReadState, CannotSetState };

// Reads the port's state (only its success counts), then applies the line
// settings, the event mask and the time-outs, stopping at the first failure.
PortSetup SetUpPort(HANDLE port, const DCB& lineSettings);

}  // namespace quillon
