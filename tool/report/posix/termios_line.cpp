#include "tool/report/posix/termios_line.h"

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/posix/unique_fd.h"
#include "common/posix/write_all.h"
#include "tool/link/link_settings.h"
#include "tool/report/posix/port_holders.h"

namespace quillon::report {
namespace {

using lorvane::posix::UniqueFd;

// /dev/tty, /dev/console and /dev/ptmx: terminals, but no serial line, and
// opening /dev/ptmx makes a new pty. The virtual consoles are found by what
// stands behind them (HasDeviceBehind).
constexpr unsigned kTtyAuxMajor = 5;
// A program that opened the port just to lose the lock (another run) closes
// it at once; only a holder seen twice this far apart counts.
constexpr long kHolderRecheckMs = 100;

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// The port once it is the run's: locked, held by no other program and set
// up. Exclusive mode (later opens by others fail, root excepted) lasts as
// long as this object, so no path that gives the port up leaves it behind:
// a tty keeps the mode past our close while anyone else has it open.
class TermiosLine final : public SerialLine {
public:
    TermiosLine(int fd, const termios& previous) : m_fd(fd), m_previous(previous) { ::ioctl(m_fd, TIOCEXCL); }
    ~TermiosLine() override
    {
        ::ioctl(m_fd, TIOCNXCL);
        // Our settings have no flow control, so the drain ends on its own.
        ::tcsetattr(m_fd, TCSADRAIN, &m_previous);
        ::close(m_fd);   // releases the flock
    }
    TermiosLine(const TermiosLine&) = delete;
    TermiosLine& operator=(const TermiosLine&) = delete;

    bool Write(std::span<const std::uint8_t> bytes) override
    {
        return lorvane::posix::WriteAll(m_fd, bytes.data(), bytes.size());
    }

    ReadResult ReadByte(std::uint8_t& byte) override
    {
        pollfd fd{m_fd, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(kReadWaitMs));
        if (ready == 0 || (ready < 0 && errno == EINTR))
            return ReadResult::Nothing;
        if (ready < 0)
            return ReadResult::Failed;
        const ssize_t n = ::read(m_fd, &byte, 1);
        if (n == 1)
            return ReadResult::Byte;
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return ReadResult::Nothing;
        return ReadResult::Failed;   // hang-up (a pty whose master went) or a device error
    }

    void RecoverFromReadFailure() override
    {
        // A hung-up line keeps failing at once; wait one read period so the
        // loop does not spin until the response timer ends it.
        ::usleep(kReadWaitMs * 1000);
    }

private:
    int m_fd;
    termios m_previous;
};

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string SysfsPath(dev_t device)
{
    return "/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// A serial port's tty has the hardware (a UART, a USB adapter) behind it;
// the virtual consoles (/dev/tty0, /dev/ttyN) have none, and a frame
// written to them goes to the screen.
bool HasDeviceBehind(dev_t device)
{
    struct stat st {};
    return ::stat((SysfsPath(device) + "/device").c_str(), &st) == 0;
}

// The driver class of a character device, from sysfs ("tty", "mem", ...),
// or from /proc/devices for the pty slaves, which have no sysfs entry.
std::string DeviceClass(dev_t device)
{
    char link[PATH_MAX];
    const std::string sys = SysfsPath(device);
    const ssize_t n = ::readlink((sys + "/subsystem").c_str(), link, sizeof link - 1);
    if (n > 0) {
        const std::string target(link, static_cast<std::size_t>(n));
        return target.substr(target.rfind('/') + 1);
    }
    std::ifstream devices("/proc/devices");
    std::string line;
    bool characterSection = false;
    while (std::getline(devices, line)) {
        if (line.rfind("Character", 0) == 0)
            characterSection = true;
        else if (line.rfind("Block", 0) == 0)
            characterSection = false;
        else if (characterSection && std::atoi(line.c_str()) == static_cast<int>(major(device)))
            return Trimmed(line.substr(line.find_first_not_of(" 0123456789")));
    }
    return {};
}

// Checked before the device is opened read-write: opening some devices
// acts by itself.
bool IsSerialTerminal(const std::string& path, OpenResult& result)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result = {OpenStatus::CannotOpen, ErrnoText(errno)};
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        result = {OpenStatus::CannotOpen, S_ISDIR(st.st_mode) ? "a directory, not a serial port"
                                                              : "not a character device, so not a serial port"};
        return false;
    }
    const std::string deviceClass = DeviceClass(st.st_rdev);
    if ((deviceClass != "tty" && deviceClass != "pts") || major(st.st_rdev) == kTtyAuxMajor) {
        result = {OpenStatus::CannotOpen, "not a serial port (a " + (deviceClass.empty() ? "non-terminal" : deviceClass) +
                                              " device)"};
        return false;
    }
    if (deviceClass == "tty" && !HasDeviceBehind(st.st_rdev)) {
        result = {OpenStatus::CannotOpen, "not a serial port (a virtual console: no serial device behind it)"};
        return false;
    }
    return true;
}

std::string PermissionHint(const std::string& path)
{
    struct stat st {};
    const group* owner = ::stat(path.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
    const std::string name = owner ? owner->gr_name : "dialout";
    return "; the user must be in the group " + name + " (sudo usermod -aG " + name + " $USER, then log in again)";
}

std::string HoldersText(const std::vector<PortHolder>& holders)
{
    std::string text;
    for (const PortHolder& holder : holders)
        text += (text.empty() ? "" : ", ") + std::to_string(holder.pid) + " " + holder.command;
    return "held open by another program (pid " + text + ")";
}

// Another program has the port: by the lock, or open without one.
bool HeldByOthers(int fd, const std::string& path, OpenResult& result)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = {OpenStatus::Busy, errno == EWOULDBLOCK ? path + " is locked by another run or program"
                                                          : "cannot lock " + path + ": " + ErrnoText(errno)};
        return true;
    }
    struct stat st {};
    ::fstat(fd, &st);
    if (OtherPortHolders(st.st_rdev).empty())
        return false;
    const timespec pause{0, kHolderRecheckMs * 1'000'000};
    ::nanosleep(&pause, nullptr);
    const std::vector<PortHolder> holders = OtherPortHolders(st.st_rdev);
    if (holders.empty())
        return false;
    result = {OpenStatus::Busy, path + " is " + HoldersText(holders)};
    return true;
}

speed_t SpeedOf(std::int64_t baud)
{
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

bool ApplyLineSettings(int fd, std::int64_t baud, OpenResult& result)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        result = {OpenStatus::CannotReadState, ErrnoText(errno)};
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;   // reads wait in poll, never in read
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, SpeedOf(baud)) != 0 || ::cfsetospeed(&settings, SpeedOf(baud)) != 0 ||
        ::tcsetattr(fd, TCSANOW, &settings) != 0) {
        result = {OpenStatus::CannotSetState, ErrnoText(errno)};
        return false;
    }
    // DTR and RTS held off, as the Windows link holds them; a pty has no
    // modem lines, so a failure here means nothing.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
    // What arrived before this run is not its answer.
    ::tcflush(fd, TCIFLUSH);
    return true;
}

}  // namespace

std::unique_ptr<SerialLine> OpenTermiosLine(const std::string& path, std::int64_t baud, OpenResult& result)
{
    if (!IsSerialTerminal(path, result))
        return nullptr;
    // Non-blocking open: a real port without carrier would otherwise wait.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        const int error = errno;
        if (error == EBUSY)
            result = {OpenStatus::Busy, path + " is held exclusively by another program"};
        else
            result = {OpenStatus::CannotOpen, ErrnoText(error) + (error == EACCES ? PermissionHint(path) : "")};
        return nullptr;
    }
    if (!::isatty(fd.Get())) {
        result = {OpenStatus::CannotOpen, "not a terminal, so not a serial port"};
        return nullptr;
    }
    if (HeldByOthers(fd.Get(), path, result))
        return nullptr;
    termios previous{};
    if (::tcgetattr(fd.Get(), &previous) != 0) {
        result = {OpenStatus::CannotReadState, ErrnoText(errno)};
        return nullptr;
    }
    if (!ApplyLineSettings(fd.Get(), baud, result)) {
        ::tcsetattr(fd.Get(), TCSANOW, &previous);
        return nullptr;
    }
    // Writes block until the bytes are taken; reads wait in poll.
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    result = {OpenStatus::Opened, {}};
    return std::make_unique<TermiosLine>(fd.Release(), previous);
}

}  // namespace quillon::report
