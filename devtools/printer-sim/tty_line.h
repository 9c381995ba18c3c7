// The simulator's end of the serial line on Linux: either the master of a pty
// pair that it creates and publishes under a symlink, or an existing tty.
#pragma once

#include <poll.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/posix/unique_fd.h"

namespace quillon::sim {

using lorvane::posix::UniqueFd;

class TtyLine {
public:
    // Output that the far end does not take is kept up to this size, then dropped.
    static constexpr std::size_t kMaxPending = 64 * 1024;

    static std::unique_ptr<TtyLine> CreateLink(const std::string& linkPath, std::string& error);
    static std::unique_ptr<TtyLine> OpenDevice(const std::string& devicePath, std::string& error);
    ~TtyLine();
    TtyLine(const TtyLine&) = delete;
    TtyLine& operator=(const TtyLine&) = delete;

    const std::string& DevicePath() const { return m_devicePath; }

    // The descriptors to wait on; Service takes the poll results back.
    void AddPollFds(std::vector<pollfd>& fds, std::int64_t nowMs) const;
    // Reads what arrived (appended to received), writes what is pending,
    // recovers from a hang-up. fds is the vector given to AddPollFds.
    void Service(std::span<const pollfd> fds, std::int64_t nowMs, std::vector<std::uint8_t>& received);
    // When Service must run again although no descriptor is ready.
    std::optional<std::int64_t> Deadline() const;

    // The speed the far end has set the line to, in baud (a pty keeps the
    // client's setting on both ends); 0 when it cannot be read.
    std::int64_t ClientSpeed() const;

    // Queues the bytes for the line. In link mode, bytes sent while no client
    // has the port open are dropped, as on a real line.
    void Send(std::span<const std::uint8_t> bytes);

    // A client's hold on the slave: its process and descriptor.
    using Holder = std::pair<int, int>;

private:
    TtyLine() = default;
    void Flush();
    void DiscardStaleInput();
    void TakeOpenEvents();
    void UpdateHolders();
    bool NobodyListens() const;
    void LineLost(std::int64_t nowMs);
    bool Reopen();

    UniqueFd m_fd;        // pty master or the device
    UniqueFd m_slave;     // link mode: our own hold on the slave
    UniqueFd m_opens;     // link mode: inotify watch for opens and closes of the slave
    std::size_t m_openCount = 0;   // opens less closes, as the events tell (they may merge)
    std::set<Holder> m_holders;    // link mode: who has the slave open, besides us
    std::string m_linkPath;
    std::string m_devicePath;
    std::vector<std::uint8_t> m_pending;
    std::optional<std::int64_t> m_retryAtMs;   // set after a hang-up
};

}  // namespace quillon::sim
