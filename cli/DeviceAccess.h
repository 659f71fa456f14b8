#pragma once

#include "cli/UploadEvents.h"

#include <optional>
#include <string>

// Why this user may not open a serial device, in the system's own terms:
// who owns it, its group and mode, and where the user stands with that
// group. Joining a group helps only when the device belongs to one that may
// read and write it: a root:root 0600 device is not opened by joining
// dialout.
namespace isp::cli {

struct DeviceAccess {
    std::string owner;          // "root"
    std::string group;          // "dialout"
    unsigned mode = 0;          // the permission bits, 0660
    bool inGroupNow = false;    // this process has the group
    bool memberOfGroup = false; // the user is listed in it (and has it from the next login)
};

// The device's access, where the system has owners and modes (not Windows,
// where a port that refuses is held by another program).
std::optional<DeviceAccess> deviceAccessOf(const std::string& device);

// The "no permission" failure for `port` (as messages name it), saying the
// device's owner, group and mode and what helps.
Failure noPermission(const std::string& port, const DeviceAccess& access);

// "rw-rw----": permission bits as ls shows them.
std::string modeText(unsigned mode);

} // namespace isp::cli
