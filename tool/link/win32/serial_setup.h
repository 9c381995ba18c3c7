// The one place where a serial port is opened, gets its line settings, event
// mask and time-outs, reads a byte and recovers from a line error, for the
// dialog's link and for the console program alike.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/win/unique_handle.h"
#include "tool/link/receiver.h"

namespace quillon {

// 9600 8N1, no flow control, DTR and RTS off; filled from zero, member by
// member, never merged with the port's own settings.
DCB PreparedLineSettings();
COMMTIMEOUTS PreparedTimeouts();

enum class PortSetup { Done, CannotReadState, CannotSetState };

// Reads the port's state (only its success counts), then applies the line
// settings, the event mask and the time-outs, stopping at the first failure.
PortSetup SetUpPort(HANDLE port, const DCB& lineSettings);

// Opens a port for reading and writing, not shared, for synchronous I/O.
// An empty handle on failure, GetLastError telling why.
lorvane::win::UniqueHandle OpenSerialPort(const std::string& name);

// One read of at most one byte. io may be null; the dialog passes its I/O
// record, whose named event programs watching the line wait on.
ReadResult ReadOneByte(HANDLE port, std::uint8_t& byte, OVERLAPPED* io);

// After a failed read: with fAbortOnError a framing, overrun or break error
// fails every later read until it is cleared. A failure that clearing cannot
// explain (the device went away) would fail every read at once, so it waits
// one read period and the loop does not spin.
void RecoverFromLineError(HANDLE port);

}  // namespace quillon
