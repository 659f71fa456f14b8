#include "serial/posix/PortAvailability.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace isp {

PortAvailability checkPortAvailability(const std::string& devicePath, const std::vector<std::string>& lockDirectories)
{
    PortAvailability result;
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0) {
        // EACCES: a directory on the way may not be searched.
        result.state = errno == EACCES ? PortState::NoPermission : PortState::Missing;
        return result;
    }
    if (!S_ISCHR(node.st_mode)) {
        result.state = PortState::Missing;
        return result;
    }
    // access() asks with the real user and groups, as open() by this
    // program (which is not set-uid) would be judged.
    if (::access(devicePath.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        result.state = PortState::NoPermission;
        return result;
    }
    if (const auto lock = findLockHolder(devicePath, lockDirectories)) {
        result.state = PortState::Held;
        result.lockFile = lock->lockFile;
        if (lock->pid > 0)
            result.holders.push_back({lock->pid, programName(lock->pid)});
        return result;
    }
    result.holders = processesUsingDevice(devicePath);
    if (!result.holders.empty())
        result.state = PortState::Held;
    return result;
}

std::string describe(const PortAvailability& availability)
{
    switch (availability.state) {
    case PortState::Free: return "free";
    case PortState::Held:
        if (availability.holders.empty() && !availability.lockFile.empty())
            return "locked by another program (lock file " + availability.lockFile + ")";
        return describeHolders(availability.holders);
    case PortState::NoPermission: return "no permission";
    case PortState::Missing: return "missing";
    }
    return {};
}

} // namespace isp
