#include "tool/report/posix/port_holders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <optional>

namespace quillon::report {
namespace {

// Unix98 pty slaves: majors 136..143, index = (major - 136) * 256 + minor.
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

std::vector<std::string> Entries(const std::string& path, bool numericOnly)
{
    std::vector<std::string> names;
    UniqueDir dir(::opendir(path.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (numericOnly && name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        names.push_back(name);
    }
    return names;
}

std::optional<int> PtyIndex(dev_t device)
{
    const unsigned major = major(device);
    if (major < kPtySlaveFirstMajor || major > kPtySlaveLastMajor)
        return std::nullopt;
    return static_cast<int>((major - kPtySlaveFirstMajor) * 256 + minor(device));
}

// The pty index of a ptmx descriptor, from its fdinfo ("tty-index:\tN").
std::optional<int> MasterIndex(const std::string& fdinfo)
{
    std::ifstream in(fdinfo);
    std::string key;
    while (in >> key) {
        if (key == "tty-index:") {
            int index = -1;
            if (in >> index)
                return index;
        }
    }
    return std::nullopt;
}

struct ProcessFds {
    bool holdsDevice = false;
    bool holdsMaster = false;
};

ProcessFds LookAt(const std::string& processDir, dev_t device, std::optional<int> ptyIndex)
{
    ProcessFds found;
    for (const std::string& fd : Entries(processDir + "/fd", true)) {
        struct stat st {};
        if (::stat((processDir + "/fd/" + fd).c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;
        if (st.st_rdev == device)
            found.holdsDevice = true;
        else if (ptyIndex && major(st.st_rdev) == kPtmxMajor && minor(st.st_rdev) == kPtmxMinor &&
                 MasterIndex(processDir + "/fdinfo/" + fd) == ptyIndex)
            found.holdsMaster = true;
    }
    return found;
}

std::string CommandOf(const std::string& processDir)
{
    std::ifstream in(processDir + "/comm");
    std::string command;
    std::getline(in, command);
    return command;
}

}  // namespace

std::vector<PortHolder> OtherPortHolders(dev_t device, const std::string& procRoot)
{
    std::vector<PortHolder> holders;
    const std::string self = std::to_string(::getpid());
    const std::optional<int> ptyIndex = PtyIndex(device);
    for (const std::string& pid : Entries(procRoot, true)) {
        if (pid == self)
            continue;
        const std::string processDir = procRoot + "/" + pid;
        const ProcessFds fds = LookAt(processDir, device, ptyIndex);
        if (fds.holdsDevice && !fds.holdsMaster)
            holders.push_back({static_cast<pid_t>(std::stoi(pid)), CommandOf(processDir)});
    }
    return holders;
}

}  // namespace quillon::report
