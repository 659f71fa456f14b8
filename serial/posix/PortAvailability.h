#pragma once

#include "serial/posix/PortHolders.h"
#include "serial/posix/PortLock.h"

#include <string>
#include <vector>

// Whether a serial port could be opened now, for a list of the ports: told
// without opening the device (an opening raises DTR, and a board on the port
// may take that for a reset) and without changing anything.
namespace isp {

enum class PortState {
    Free,
    Held,         // a live lock file names another process, or another process has it open
    NoPermission, // this user may not read and write the device
    Missing,      // no device node at the path
};

struct PortAvailability {
    PortState state = PortState::Free;
    // Held: who, as far as known. Empty for a lock file that could not be
    // read.
    std::vector<PortHolder> holders;
    std::string lockFile; // Held through a lock file: its path
};

// The checks run from the cheapest and surest on: the node, the permission,
// lock files, then the /proc scan (PortHolders.h). A port this user may not
// open is NoPermission even if it is also held, since joining the group that
// owns it (dialout) must come first either way. TIOCEXCL and flock claims
// need an open descriptor and are not seen here; this program's own openings
// never count.
PortAvailability checkPortAvailability(
    const std::string& devicePath, const std::vector<std::string>& lockDirectories = systemLockDirectories());

// For a list: "free", "held by picocom (process 1234)", "locked by another
// program (lock file /run/lock/LCK..ttyUSB0)", "no permission", "missing".
std::string describe(const PortAvailability& availability);

} // namespace isp
