#include "tool/link/win32/serial_setup.h"

#include "tool/link/link_settings.h"

namespace quillon {

DCB PreparedLineSettings()
{
    // Filled from zero, member by member, never merged with the port's own:
    // the printers expect exactly this line whatever a previous program left
    // on the port, and every member the settings do not name stays 0.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = kLineSettings.baudRate;
    dcb.ByteSize = kLineSettings.byteSize;
    dcb.Parity = kLineSettings.parity;
    dcb.StopBits = kLineSettings.stopBits;
    dcb.fBinary = kLineSettings.binary;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = kLineSettings.dtrControl;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = kLineSettings.rtsControl;
    dcb.fAbortOnError = kLineSettings.abortOnError;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.XonChar = static_cast<char>(kLineSettings.xonChar);
    dcb.XoffChar = static_cast<char>(kLineSettings.xoffChar);
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    return dcb;
}

COMMTIMEOUTS PreparedTimeouts()
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadTimeouts.intervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = kReadTimeouts.totalMultiplier;
    timeouts.ReadTotalTimeoutConstant = kReadTimeouts.totalConstant;
    timeouts.WriteTotalTimeoutMultiplier = kReadTimeouts.writeMultiplier;
    timeouts.WriteTotalTimeoutConstant = kReadTimeouts.writeConstant;
    return timeouts;
}

PortSetup SetUpPort(HANDLE port, const DCB& lineSettings)
{
    DCB current{};
    current.DCBlength = sizeof(DCB);
    if (!::GetCommState(port, &current))
        return PortSetup::CannotReadState;
    DCB settings = lineSettings;
    if (!::SetCommState(port, &settings) || !::SetCommMask(port, kEventMask))
        return PortSetup::CannotSetState;
    COMMTIMEOUTS timeouts = PreparedTimeouts();
    if (!::SetCommTimeouts(port, &timeouts))
        return PortSetup::CannotSetState;
    return PortSetup::Done;
}

}  // namespace quillon

namespace quillon {

lorvane::win::UniqueHandle OpenSerialPort(const std::string& name)
{
    return lorvane::win::UniqueHandle(
        ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

ReadResult ReadOneByte(HANDLE port, std::uint8_t& byte, OVERLAPPED* io)
{
    DWORD read = 0;
    if (!::ReadFile(port, &byte, 1, &read, io))
        return ReadResult::Failed;
    return read == 0 ? ReadResult::Nothing : ReadResult::Byte;
}

void RecoverFromLineError(HANDLE port)
{
    DWORD errors = 0;
    if (!::ClearCommError(port, &errors, nullptr) || errors == 0)
        ::Sleep(kReadWaitMs);
}

}  // namespace quillon
