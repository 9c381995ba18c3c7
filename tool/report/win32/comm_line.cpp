#include "tool/report/win32/comm_line.h"

#include <windows.h>

#include "common/win/unique_handle.h"
#include "tool/link/link_settings.h"
#include "tool/link/win32/serial_setup.h"
#include "tool/report/command_line.h"

namespace quillon::report {
namespace {

using lorvane::win::UniqueHandle;

// Synchronous handle: with the link's time-outs a read returns on the first
// byte or after the read wait, so one thread can read and watch the clock.
class CommLine final : public SerialLine {
public:
    explicit CommLine(UniqueHandle port) : m_port(std::move(port)) {}

    bool Write(std::span<const std::uint8_t> bytes) override
    {
        DWORD written = 0;
        return ::WriteFile(m_port.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

    ReadResult ReadByte(std::uint8_t& byte) override
    {
        DWORD read = 0;
        if (!::ReadFile(m_port.Get(), &byte, 1, &read, nullptr))
            return ReadResult::Failed;
        return read == 0 ? ReadResult::Nothing : ReadResult::Byte;
    }

    void RecoverFromReadFailure() override
    {
        // As the dialog's receiver: clear the line error that fAbortOnError
        // leaves; a failure without one (the device went) waits a read period.
        DWORD errors = 0;
        if (!::ClearCommError(m_port.Get(), &errors, nullptr) || errors == 0)
            ::Sleep(kReadWaitMs);
    }

private:
    UniqueHandle m_port;
};

}  // namespace

std::unique_ptr<SerialLine> OpenCommLine(const std::string& port, OpenStatus& status)
{
    const int number = ComPortNumber(port);
    if (number == 0) {
        status = OpenStatus::BadName;
        return nullptr;
    }
    UniqueHandle handle(::CreateFileA(PortName(number), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    if (!handle) {
        status = OpenStatus::CannotOpen;
        return nullptr;
    }
    switch (SetUpPort(handle.Get(), PreparedLineSettings())) {
    case PortSetup::Done:
        break;
    case PortSetup::CannotReadState:
        status = OpenStatus::CannotReadState;
        return nullptr;
    case PortSetup::CannotSetState:
        status = OpenStatus::CannotSetState;
        return nullptr;
    }
    // What arrived before this run is not its answer.
    ::PurgeComm(handle.Get(), PURGE_RXCLEAR);
    status = OpenStatus::Opened;
    return std::make_unique<CommLine>(std::move(handle));
}

}  // namespace quillon::report
