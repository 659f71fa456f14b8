#include "serial/posix/PortLock.h"

#include "serial/posix/UniqueFd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

namespace isp {

std::optional<pid_t> pidFromLockText(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(first);
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value <= 0 || value > 0x7fffffffL)
        return std::nullopt;
    // The number must end the line: "123abc" is not a process id.
    if (end != text.data() + text.size() && *end != '\n' && *end != '\r' && *end != ' ')
        return std::nullopt;
    return static_cast<pid_t>(value);
}

bool processIsAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

const std::vector<std::string>& systemLockDirectories()
{
    static const std::vector<std::string> directories = [] {
        std::vector<std::string> list{"/run/lock"};
        struct stat run {};
        struct stat var {};
        const bool haveRun = ::stat("/run/lock", &run) == 0;
        if (::stat("/var/lock", &var) == 0 && !(haveRun && run.st_dev == var.st_dev && run.st_ino == var.st_ino))
            list.emplace_back("/var/lock");
        return list;
    }();
    return directories;
}

std::vector<std::string> lockFileNames(std::string_view devicePath)
{
    std::vector<std::string> names;
    const auto slash = devicePath.rfind('/');
    names.push_back("LCK.." + std::string(devicePath.substr(slash == std::string_view::npos ? 0 : slash + 1)));
    constexpr std::string_view DevPrefix = "/dev/";
    if (devicePath.starts_with(DevPrefix)) {
        std::string relative(devicePath.substr(DevPrefix.size()));
        if (relative.find('/') != std::string::npos) {
            for (char& c : relative)
                if (c == '/')
                    c = '_';
            names.push_back("LCK.." + relative);
        }
    }
    return names;
}

std::optional<LockHolder> findLockHolder(std::string_view devicePath, const std::vector<std::string>& lockDirectories)
{
    // Other programs name the lock after the device itself ("ttyUSB0"), also
    // when this one opens it through a stable link (/dev/serial/by-id/...).
    std::vector<std::string> names = lockFileNames(devicePath);
    char resolved[PATH_MAX];
    if (::realpath(std::string(devicePath).c_str(), resolved) != nullptr && devicePath != resolved) {
        for (std::string& name : lockFileNames(resolved))
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(std::move(name));
    }
    for (const std::string& directory : lockDirectories) {
        for (const std::string& name : names) {
            std::string path = directory;
            path += '/';
            path += name;
            UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
            if (!file) {
                if (errno == ENOENT || errno == ENOTDIR)
                    continue;
                return LockHolder{0, std::move(path)};
            }
            char text[128];
            const ssize_t length = ::read(file.get(), text, sizeof text);
            if (length <= 0)
                continue;
            const auto pid = pidFromLockText(std::string_view(text, static_cast<std::size_t>(length)));
            if (pid && *pid != ::getpid() && processIsAlive(*pid))
                return LockHolder{*pid, std::move(path)};
        }
    }
    return std::nullopt;
}

} // namespace isp
