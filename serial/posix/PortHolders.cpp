#include "serial/posix/PortHolders.h"

#include "serial/posix/UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>

namespace isp {
namespace {

// Unix98 pty slaves (/dev/pts/N) have majors 136 to 143.
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;
// The kernel keeps a command name of at most 15 characters.
constexpr std::size_t CommandNameLimit = 15;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Opens a directory below `parent` for reading its entries.
Dir openDirectory(int parent, const char* path)
{
    const int fd = ::openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr)
        ::close(fd);
    return Dir(dir);
}

std::optional<pid_t> pidFromName(std::string_view name)
{
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

// The device as the kernel names it in the fd links of the processes that
// opened it.
struct Device {
    std::string path; // without symbolic links: /dev/serial/by-id/... gives /dev/ttyUSB0
    dev_t number = 0;
    dev_t fileSystem = 0; // the file system the node is on
    bool ptySlave = false;
};

std::optional<Device> deviceAt(const std::string& devicePath)
{
    char resolved[PATH_MAX];
    if (::realpath(devicePath.c_str(), resolved) == nullptr)
        return std::nullopt;
    struct stat node {};
    if (::stat(resolved, &node) != 0 || !S_ISCHR(node.st_mode))
        return std::nullopt;
    const unsigned major = ::major(node.st_rdev);
    return Device{resolved, node.st_rdev, node.st_dev, major >= PtySlaveMajorFirst && major <= PtySlaveMajorLast};
}

bool isSameDevice(const Device& device, const struct stat& opened)
{
    if (!S_ISCHR(opened.st_mode) || opened.st_rdev != device.number)
        return false;
    // Pty numbers count per devpts instance: /dev/pts/3 of a container is
    // another terminal than ours, with the same device number.
    return !device.ptySlave || opened.st_dev == device.fileSystem;
}

// True if one of the process's fds refers to the device.
bool hasDeviceOpen(int proc, const char* pid, const Device& device)
{
    char path[32];
    // A kernel thread (most of the processes of an idle system) and a zombie
    // have no program file, and no open files either; a process of another
    // user hides both. One readlink tells, for a fifth of what listing the
    // empty fd directory costs.
    std::snprintf(path, sizeof path, "%s/exe", pid);
    char link[PATH_MAX];
    if (::readlinkat(proc, path, link, sizeof link) < 0)
        return false;
    std::snprintf(path, sizeof path, "%s/fd", pid);
    // EACCES: a process of another user; ENOENT: it has just ended.
    const Dir fds = openDirectory(proc, path);
    if (!fds)
        return false;
    const int fdsFd = ::dirfd(fds.get());
    while (const dirent* entry = ::readdir(fds.get())) {
        if (entry->d_name[0] == '.')
            continue;
        // The link reads as the path the file was opened by ("/dev/ttyUSB0"),
        // or "pipe:[1234]", "socket:[5678]", "/home/me/notes.txt". Comparing
        // it costs no access to the file; only a link that names the device
        // is followed, to its inode, to confirm.
        const ssize_t length = ::readlinkat(fdsFd, entry->d_name, link, sizeof link);
        if (length != static_cast<ssize_t>(device.path.size())
            || std::memcmp(link, device.path.data(), device.path.size()) != 0)
            continue;
        struct stat opened {};
        if (::fstatat(fdsFd, entry->d_name, &opened, 0) == 0 && isSameDevice(device, opened))
            return true;
    }
    return false;
}

// Calls `found` for each other process that has the device open, until it
// returns false.
void scanProcesses(const std::string& devicePath, const std::function<bool(pid_t)>& found)
{
    const auto device = deviceAt(devicePath);
    if (!device)
        return;
    const Dir proc = openDirectory(AT_FDCWD, "/proc");
    if (!proc)
        return;
    const int procFd = ::dirfd(proc.get());
    // /proc lists processes only; their threads, which share the fd table,
    // are not listed, so skipping our own pid skips all of this program.
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc.get())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue; // "self", "sys", "meminfo", ...
        const auto pid = pidFromName(entry->d_name);
        if (!pid || *pid == self)
            continue;
        if (hasDeviceOpen(procFd, entry->d_name, *device) && !found(*pid))
            return;
    }
}

// Reads a /proc file, up to `limit` bytes; procfs files answer at once.
std::string readProcFile(const std::string& path, std::size_t limit)
{
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    char buffer[4096];
    while (file && text.size() < limit) {
        const ssize_t n = ::read(file.get(), buffer, std::min(sizeof buffer, limit - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

std::string describeHolder(const PortHolder& holder)
{
    const std::string process = "process " + std::to_string(holder.pid);
    return holder.program.empty() ? process : holder.program + " (" + process + ")";
}

} // namespace

std::vector<PortHolder> processesUsingDevice(const std::string& devicePath)
{
    std::vector<PortHolder> holders;
    scanProcesses(devicePath, [&](pid_t pid) {
        holders.push_back({pid, programName(pid)});
        return true;
    });
    return holders;
}

std::optional<PortHolder> firstProcessUsingDevice(const std::string& devicePath)
{
    std::optional<PortHolder> first;
    scanProcesses(devicePath, [&](pid_t pid) {
        first = PortHolder{pid, programName(pid)};
        return false;
    });
    return first;
}

std::string programNameFrom(std::string_view comm, std::string_view cmdline)
{
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0'))
        comm.remove_suffix(1);
    if (comm.size() < CommandNameLimit)
        return std::string(comm);
    // argv[0], up to its NUL, without its directory. A program may have
    // rewritten it ("worker: /dev/ttyUSB0"); it is used only where it
    // continues the command name.
    std::string_view first = cmdline.substr(0, cmdline.find('\0'));
    const auto slash = first.rfind('/');
    if (slash != std::string_view::npos)
        first.remove_prefix(slash + 1);
    return std::string(first.size() > comm.size() && first.starts_with(comm) ? first : comm);
}

std::string programName(pid_t pid)
{
    const std::string directory = "/proc/" + std::to_string(pid) + "/";
    const std::string comm = readProcFile(directory + "comm", 64);
    if (comm.empty())
        return {};
    return programNameFrom(comm, readProcFile(directory + "cmdline", PATH_MAX));
}

std::string describeHolders(const std::vector<PortHolder>& holders)
{
    if (holders.empty())
        return "held by another program";
    std::string text = "held by " + describeHolder(holders.front());
    for (std::size_t i = 1; i < holders.size(); ++i)
        text += (i + 1 == holders.size() ? " and " : ", ") + describeHolder(holders[i]);
    return text;
}

std::optional<pid_t> flockHolderIn(std::string_view procLocks, dev_t fileSystem, ino_t inode)
{
    // "1: FLOCK  ADVISORY  WRITE 1234 00:06:90 0 EOF": a number, the kind,
    // mode and access, the process, and the file: major:minor (hex) of its
    // file system and its inode. A waiter's line has "->" before the kind,
    // and other kinds (POSIX, OFDLCK) are not flock()s.
    std::istringstream lines{std::string(procLocks)};
    std::string line;
    while (std::getline(lines, line)) {
        int pid = 0;
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long long number = 0;
        if (std::sscanf(line.c_str(), "%*d: FLOCK %*s %*s %d %x:%x:%llu", &pid, &major, &minor, &number) == 4 && pid > 0
            && ::makedev(major, minor) == fileSystem && number == inode)
            return pid;
    }
    return std::nullopt;
}

FlockResult claimWithFlock(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return {FlockClaim::Claimed, std::nullopt};
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return {FlockClaim::Unsupported, std::nullopt};
        FlockResult result{FlockClaim::HeldElsewhere, std::nullopt};
        struct stat node {};
        if (::fstat(fd, &node) == 0) {
            if (const auto pid =
                    flockHolderIn(readProcFile("/proc/locks", std::string::npos), node.st_dev, node.st_ino))
                result.holder = PortHolder{*pid, programName(*pid)};
        }
        return result;
    }
}

} // namespace isp
