#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Other serial programs (Qt's serial port, minicom, picocom) announce that
// they hold a port with a UUCP lock file "LCK..<name>" in /run/lock (or
// /var/lock) that holds the holder's process id as text: either a number
// padded with spaces, or Qt's three lines "pid", "application", "host".
// This component only reads these files and never writes one: writing costs
// a flush to disk at every opening, and the page sender reopens the port
// around every page. While it has a port open it sets TIOCEXCL instead, so
// other programs' open() fails with EBUSY.
namespace isp {

struct LockHolder {
    pid_t pid = 0; // 0 when the lock file could not be read
    std::string lockFile;
};

// The process id a lock file's text names, if it names one (> 0).
std::optional<pid_t> pidFromLockText(std::string_view text);

// True if the process exists (it may belong to another user).
bool processIsAlive(pid_t pid);

// The lock directories of this system: /run/lock, and /var/lock when that is
// not the same directory.
const std::vector<std::string>& systemLockDirectories();

// The names a lock for this device may have: "LCK..ttyUSB0" for
// /dev/ttyUSB0; for /dev/pts/3 both "LCK..3" and "LCK..pts_3".
std::vector<std::string> lockFileNames(std::string_view devicePath);

// A live process other than this one that holds a lock on the device, by
// the name given or, for a link, the name of the device it leads to. A
// lock of a process that no longer runs is stale and does not count, nor does
// one whose text names no process; a lock file that cannot be read is taken
// as held.
std::optional<LockHolder> findLockHolder(
    std::string_view devicePath, const std::vector<std::string>& lockDirectories = systemLockDirectories());

} // namespace isp
