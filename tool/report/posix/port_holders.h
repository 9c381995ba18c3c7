// Who else has a terminal device open, read from /proc. A program that
// opens a port without any lock (a terminal emulator, `exec 3<>/dev/ttyS0`)
// is seen only this way. Linux only; best effort: processes of other users
// are invisible without the rights to read their descriptors.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quillon::report {

struct PortHolder {
    pid_t pid = 0;
    std::string command;   // /proc/PID/comm
};

// Processes other than this one that hold the character device `device`
// open. For a pty's slave, the process that holds its master is the far
// end of the line (a simulator standing in for the printer), not a holder.
std::vector<PortHolder> OtherPortHolders(dev_t device, const std::string& procRoot = "/proc");

}  // namespace quillon::report
