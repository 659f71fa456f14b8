// A device's owner, group and mode, and the user's groups, from the system's
// user and group databases.
#include "cli/DeviceAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace isp::cli {
namespace {

std::string userName(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? user->pw_name : std::to_string(uid);
}

bool processHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) < 0)
        return false;
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

} // namespace

std::optional<DeviceAccess> deviceAccessOf(const std::string& device)
{
    struct stat status {};
    if (::stat(device.c_str(), &status) != 0)
        return std::nullopt;
    DeviceAccess access;
    access.owner = userName(status.st_uid);
    access.mode = status.st_mode & 07777U;
    access.inGroupNow = processHasGroup(status.st_gid);
    const std::string me = userName(::getuid());
    const group* owningGroup = ::getgrgid(status.st_gid);
    access.group = owningGroup != nullptr ? owningGroup->gr_name : std::to_string(status.st_gid);
    if (owningGroup != nullptr) {
        for (char* const* member = owningGroup->gr_mem; *member != nullptr; ++member)
            access.memberOfGroup = access.memberOfGroup || me == *member;
    }
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_gid == status.st_gid)
        access.memberOfGroup = true;
    return access;
}

} // namespace isp::cli
