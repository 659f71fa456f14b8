// What a PORT names on Linux: device nodes, told apart by the kernel's own
// list of terminal drivers.
#include "cli/PortChoice.h"
#include "serial/Platform.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace isp::cli {
namespace {

// Whether a character device is a serial port or a pseudo-terminal's slave,
// from /proc/tty/drivers: one line per driver, "name node major minors
// type" ("usbserial /dev/ttyUSB 188 0-511 serial"). /dev/null, /dev/tty and
// the consoles are character devices too, of other types. Where the list
// cannot be read, any character device may be one.
bool isSerialDevice(dev_t device)
{
    std::ifstream drivers("/proc/tty/drivers");
    if (!drivers)
        return true;
    for (std::string line; std::getline(drivers, line);) {
        std::istringstream fields(line);
        std::string name;
        std::string node;
        unsigned major = 0;
        std::string minors;
        std::string type;
        if (!(fields >> name >> node >> major >> minors >> type))
            continue;
        if (type != "serial" && type != "pty:slave")
            continue;
        unsigned first = 0;
        unsigned last = 0;
        const std::size_t dash = minors.find('-');
        try {
            first = static_cast<unsigned>(std::stoul(minors.substr(0, dash)));
            last = dash == std::string::npos ? first : static_cast<unsigned>(std::stoul(minors.substr(dash + 1)));
        } catch (const std::exception&) {
            continue;
        }
        if (::major(device) == major && ::minor(device) >= first && ::minor(device) <= last)
            return true;
    }
    return false;
}

PathKind inspectPath(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        // A folder on the way that may not be searched: opening tells more.
        return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::SerialDevice;
    }
    if (S_ISDIR(status.st_mode))
        return PathKind::Folder;
    if (S_ISREG(status.st_mode))
        return PathKind::RegularFile;
    if (S_ISCHR(status.st_mode))
        return isSerialDevice(status.st_rdev) ? PathKind::SerialDevice : PathKind::OtherDevice;
    return PathKind::Other;
}

std::string followLinks(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

} // namespace

PortSystem thisPortSystem()
{
    return {false, platform::listSerialPorts(), inspectPath, followLinks};
}

} // namespace isp::cli
