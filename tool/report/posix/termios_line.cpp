#include "tool/report/posix/termios_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "tool/link/link_settings.h"

namespace quillon::report {
namespace {

class TermiosLine final : public SerialLine {
public:
    explicit TermiosLine(int fd) : m_fd(fd) {}
    ~TermiosLine() override { ::close(m_fd); }
    TermiosLine(const TermiosLine&) = delete;
    TermiosLine& operator=(const TermiosLine&) = delete;

    bool Write(std::span<const std::uint8_t> bytes) override
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
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
};

bool ApplyLineSettings(int fd, OpenStatus& status)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        status = OpenStatus::CannotReadState;
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;   // reads wait in poll, never in read
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, B9600) != 0 || ::cfsetospeed(&settings, B9600) != 0 ||
        ::tcsetattr(fd, TCSANOW, &settings) != 0) {
        status = OpenStatus::CannotSetState;
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

std::unique_ptr<SerialLine> OpenTermiosLine(const std::string& path, OpenStatus& status)
{
    // Non-blocking open: a real port without carrier would otherwise wait.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        status = OpenStatus::CannotOpen;
        return nullptr;
    }
    auto line = std::make_unique<TermiosLine>(fd);
    if (!::isatty(fd)) {
        status = OpenStatus::CannotReadState;
        return nullptr;
    }
    if (!ApplyLineSettings(fd, status))
        return nullptr;
    // Writes block until the bytes are taken; reads wait in poll.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    status = OpenStatus::Opened;
    return line;
}

}  // namespace quillon::report
