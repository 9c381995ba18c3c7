#include "tool/report/win32/comm_line.h"

#include <windows.h>

#include "common/win/text.h"
#include "common/win/unique_handle.h"
#include "tool/link/link_settings.h"
#include "tool/link/win32/serial_setup.h"
#include "tool/report/com_port_name.h"
#include "tool/report/win32/port_lock.h"

namespace quillon::report {
namespace {

using lorvane::win::SystemErrorText;
using lorvane::win::UniqueHandle;

// Synchronous handle: with the link's time-outs a read returns on the first
// byte or after the read wait, so one thread can read and watch the clock.
class CommLine final : public SerialLine {
public:
    CommLine(UniqueHandle port, HeldPortLock lock) : m_lock(std::move(lock)), m_port(std::move(port)) {}

    bool Write(std::span<const std::uint8_t> bytes) override
    {
        DWORD written = 0;
        return ::WriteFile(m_port.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

    ReadResult ReadByte(std::uint8_t& byte) override { return ReadOneByte(m_port.Get(), byte, nullptr); }

    void RecoverFromReadFailure() override { RecoverFromLineError(m_port.Get()); }

private:
    HeldPortLock m_lock;   // released after the port is closed
    UniqueHandle m_port;
};

}  // namespace

std::string CanonicalComName(const std::string& port)
{
    const unsigned number = ComPortNumber(std::string_view(port), kHighestComPort);
    return number == 0 ? port : "COM" + std::to_string(number);
}

std::unique_ptr<SerialLine> OpenCommLine(const std::string& port, std::int64_t baud, OpenResult& result)
{
    const unsigned number = ComPortNumber(std::string_view(port), kHighestComPort);
    if (number == 0) {
        result = {OpenStatus::BadName, {}};
        return nullptr;
    }
    const std::string name = CanonicalComName(port);
    // Another run of this program holds the port: the lock says so at once,
    // also where the driver would let the port be opened twice.
    HeldPortLock lock;
    if (!TakePortLock(name, lock, result))
        return nullptr;
    UniqueHandle handle = OpenSerialPort("\\\\.\\" + name);
    if (!handle) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            result = {OpenStatus::Busy, name + " is held by another program: " + SystemErrorText(error)};
        else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            result = {OpenStatus::CannotOpen, SystemErrorText(error) + "; --ports lists the ports present"};
        else
            result = {OpenStatus::CannotOpen, SystemErrorText(error)};
        return nullptr;
    }
    DCB settings = PreparedLineSettings();
    settings.BaudRate = static_cast<DWORD>(baud);
    switch (SetUpPort(handle.Get(), settings)) {
    case PortSetup::Done:
        break;
    case PortSetup::CannotReadState:
        result = {OpenStatus::CannotReadState, SystemErrorText(::GetLastError())};
        return nullptr;
    case PortSetup::CannotSetState:
        result = {OpenStatus::CannotSetState, SystemErrorText(::GetLastError())};
        return nullptr;
    }
    // What arrived before this run is not its answer.
    ::PurgeComm(handle.Get(), PURGE_RXCLEAR);
    result = {OpenStatus::Opened, {}};
    return std::make_unique<CommLine>(std::move(handle), std::move(lock));
}

}  // namespace quillon::report
