#include "devtools/printer-sim/tty_line.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillon::sim {

namespace {

constexpr std::int64_t kRetryMs = 200;
constexpr std::size_t kMaxReadPerRound = 16 * 1024;

// 9600 8N1, no flow control, no echo or line editing: the printer's line.
bool MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string ErrnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

std::string ReadLink(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Stands for clients in processes whose descriptors cannot be read.
constexpr TtyLine::Holder kUnseenHolder{0, -1};

bool AllDigits(const char* name)
{
    return *name && std::strspn(name, "0123456789") == std::strlen(name);
}

struct SlaveHolders {
    std::set<TtyLine::Holder> seen;
    bool complete = true;   // false: some processes' descriptors could not be read
};

// Every descriptor of another process that refers to the device, from /proc.
SlaveHolders FindSlaveHolders(const std::string& devicePath)
{
    SlaveHolders holders;
    const std::unique_ptr<DIR, int (*)(DIR*)> processes(opendir("/proc"), closedir);
    if (!processes) {
        holders.complete = false;
        return holders;
    }
    const int self = getpid();
    while (const dirent* process = readdir(processes.get())) {
        if (!AllDigits(process->d_name) || std::atoi(process->d_name) == self)
            continue;
        const std::string fdDir = std::string("/proc/") + process->d_name + "/fd";
        const std::unique_ptr<DIR, int (*)(DIR*)> fds(opendir(fdDir.c_str()), closedir);
        if (!fds) {
            holders.complete = holders.complete && errno == ENOENT;   // a process that just ended
            continue;
        }
        while (const dirent* fd = readdir(fds.get())) {
            if (AllDigits(fd->d_name) && ReadLink(fdDir + "/" + fd->d_name) == devicePath)
                holders.seen.emplace(std::atoi(process->d_name), std::atoi(fd->d_name));
        }
    }
    return holders;
}

}  // namespace

std::unique_ptr<TtyLine> TtyLine::CreateLink(const std::string& linkPath, std::string& error)
{
    std::unique_ptr<TtyLine> line(new TtyLine);
    line->m_fd.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128];
    if (!line->m_fd.Valid() || grantpt(line->m_fd.Get()) != 0 || unlockpt(line->m_fd.Get()) != 0
        || ptsname_r(line->m_fd.Get(), name, sizeof name) != 0) {
        error = ErrnoText("cannot create a pty");
        return nullptr;
    }
    line->m_devicePath = name;
    // Holding the slave open keeps the master usable while the client has the
    // port closed: without it the master reports a hang-up after every close,
    // and the line settings would be lost between the client's opens.
    line->m_slave.Reset(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line->m_slave.Valid() || !MakeRaw(line->m_slave.Get())) {
        error = ErrnoText("cannot set up the pty slave");
        return nullptr;
    }
    if (fcntl(line->m_fd.Get(), F_SETFL, O_NONBLOCK) != 0) {
        error = ErrnoText("cannot make the pty master non-blocking");
        return nullptr;
    }
    line->m_opens.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!line->m_opens.Valid() || inotify_add_watch(line->m_opens.Get(), name, IN_OPEN | IN_CLOSE) < 0)
        line->m_opens.Reset();   // without it the line is taken as always listened to

    // Publish atomically, so a client never sees a missing or half-made link,
    // and an old link (e.g. of the Wine bed) is replaced.
    const std::string temporary = linkPath + ".printer-sim." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(name, temporary.c_str()) != 0 || rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = ErrnoText(("cannot publish " + linkPath).c_str());
        unlink(temporary.c_str());
        return nullptr;
    }
    line->m_linkPath = linkPath;
    return line;
}

std::unique_ptr<TtyLine> TtyLine::OpenDevice(const std::string& devicePath, std::string& error)
{
    std::unique_ptr<TtyLine> line(new TtyLine);
    line->m_devicePath = devicePath;
    if (!line->Reopen()) {
        error = ErrnoText(("cannot open " + devicePath).c_str());
        return nullptr;
    }
    return line;
}

TtyLine::~TtyLine()
{
    // Remove the link only while it is still ours; another simulator may have
    // taken the name over meanwhile.
    if (!m_linkPath.empty() && ReadLink(m_linkPath) == m_devicePath)
        unlink(m_linkPath.c_str());
}

bool TtyLine::Reopen()
{
    m_fd.Reset(open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!m_fd.Valid())
        return false;
    if (isatty(m_fd.Get()))
        MakeRaw(m_fd.Get());
    return true;
}

void TtyLine::AddPollFds(std::vector<pollfd>& fds, std::int64_t nowMs) const
{
    const bool resting = m_retryAtMs && *m_retryAtMs > nowMs;
    if (m_fd.Valid() && !resting) {
        const short events = static_cast<short>(POLLIN | (m_pending.empty() ? 0 : POLLOUT));
        fds.push_back({m_fd.Get(), events, 0});
    }
    if (m_opens.Valid())
        fds.push_back({m_opens.Get(), POLLIN, 0});
}

std::optional<std::int64_t> TtyLine::Deadline() const
{
    return m_retryAtMs;
}

std::int64_t TtyLine::ClientSpeed() const
{
    termios settings{};
    if (::tcgetattr(m_fd.Get(), &settings) != 0)
        return 0;
    switch (::cfgetospeed(&settings)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

void TtyLine::Service(std::span<const pollfd> fds, std::int64_t nowMs, std::vector<std::uint8_t>& received)
{
    // Opens are looked at before reading: a client opens before it writes,
    // so its request is never discarded with the stale bytes.
    TakeOpenEvents();
    if (m_retryAtMs) {
        if (*m_retryAtMs > nowMs)
            return;
        m_retryAtMs.reset();
        if (!m_slave.Valid() && !Reopen()) {
            m_retryAtMs = nowMs + kRetryMs;
            return;
        }
    }

    const auto port = std::ranges::find(fds, m_fd.Get(), &pollfd::fd);
    if (port == fds.end() || port->revents == 0)
        return;
    if (port->revents & (POLLIN | POLLHUP | POLLERR)) {
        std::uint8_t buffer[512];
        // Bounded, so that a client that never stops writing cannot hold off
        // the timers; the rest is read on the next round.
        while (received.size() < kMaxReadPerRound) {
            const ssize_t n = read(m_fd.Get(), buffer, sizeof buffer);
            if (n > 0) {
                received.insert(received.end(), buffer, buffer + n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                LineLost(nowMs);
                return;
            }
            break;
        }
        // A client that writes holds the port, although its descriptor may
        // not have been in /proc yet when its open was reported.
        if (!received.empty() && NobodyListens())
            UpdateHolders();
    }
    if (port->revents & POLLOUT)
        Flush();
}

void TtyLine::Send(std::span<const std::uint8_t> bytes)
{
    if (NobodyListens())
        return;
    if (m_pending.size() + bytes.size() > kMaxPending) {
        std::fprintf(stderr, "printer-sim: nobody reads the line; %zu bytes dropped\n", m_pending.size());
        m_pending.clear();
    }
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    Flush();
}

void TtyLine::Flush()
{
    bool discarded = false;
    while (!m_pending.empty() && m_fd.Valid()) {
        const ssize_t n = write(m_fd.Get(), m_pending.data(), m_pending.size());
        if (n > 0) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A full pty means that no client has read for a long while: drop what
        // it left unread, as a serial line drops bytes that nobody receives.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && m_slave.Valid() && !discarded) {
            DiscardStaleInput();
            discarded = true;
            continue;
        }
        break;   // POLLOUT tells when to go on
    }
}

void TtyLine::DiscardStaleInput()
{
    tcflush(m_slave.Get(), TCIFLUSH);
}

// A serial line keeps nothing for a port that nobody has open: bytes sent
// meanwhile are lost, and a client that opens the port starts with an empty
// input. inotify tells that the slave was opened or closed, but it merges an
// event with an unread one just like it, so two opens in a row count as one:
// who holds the slave is read from /proc instead, and the count of events
// only stands in for processes whose descriptors cannot be read.
void TtyLine::TakeOpenEvents()
{
    if (!m_opens.Valid())
        return;
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_opens.Get(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_OPEN)
                ++m_openCount;
            else if ((event.mask & IN_CLOSE) && m_openCount > 0)
                --m_openCount;
            changed = true;
        }
    }
    if (changed)
        UpdateHolders();
}

// What waits in the line belongs to the clients that held it before: it is
// dropped only when none of them holds it any more, so one client opening or
// closing never takes another's answer.
void TtyLine::UpdateHolders()
{
    SlaveHolders now = FindSlaveHolders(m_devicePath);
    if (now.complete)
        m_openCount = now.seen.size();
    else if (m_openCount > now.seen.size())
        now.seen.insert(kUnseenHolder);
    const bool anyLeft = std::ranges::any_of(m_holders, [&](const Holder& h) { return now.seen.contains(h); });
    if (!anyLeft) {
        DiscardStaleInput();
        m_pending.clear();
    }
    m_holders = std::move(now.seen);
}

bool TtyLine::NobodyListens() const
{
    return m_opens.Valid() && m_holders.empty();
}

void TtyLine::LineLost(std::int64_t nowMs)
{
    // Never spin on a hung-up descriptor: rest, then try again (a device is reopened).
    if (!m_slave.Valid())
        m_fd.Reset();
    m_retryAtMs = nowMs + kRetryMs;
}

}  // namespace quillon::sim
