#include "cli/DeviceAccess.h"

#include <cstdio>

namespace isp::cli {

std::string modeText(unsigned mode)
{
    std::string text;
    for (int shift = 6; shift >= 0; shift -= 3) {
        const unsigned bits = mode >> shift;
        text += (bits & 4U) != 0 ? 'r' : '-';
        text += (bits & 2U) != 0 ? 'w' : '-';
        text += (bits & 1U) != 0 ? 'x' : '-';
    }
    return text;
}

Failure noPermission(const std::string& port, const DeviceAccess& access)
{
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", access.mode & 07777U);
    std::string message = "You may not open " + port + ": the device belongs to user " + access.owner + " and group "
        + access.group + ", mode " + modeText(access.mode) + " (" + octal + ")";
    const bool groupMayUseIt = (access.mode & 060U) == 060U && access.group != "root";
    std::string advice;
    if (!groupMayUseIt) {
        advice = "No group may read and write it, so joining one does not help: a udev rule must give the device to a "
                 "group (for example GROUP=\"dialout\", MODE=\"0660\"), or the program must run as "
            + access.owner + ".";
    } else if (access.inGroupNow) {
        advice = "Your user has the group " + access.group
            + ", yet the system refuses: a security policy may forbid it; ask the machine's administrator.";
    } else if (access.memberOfGroup) {
        message += "; you have joined the group, but it counts from your next login";
        advice = "Log out and in again (or restart the machine), then run again.";
    } else {
        message += ", and your user is not in that group";
        advice = "Join the group " + access.group + " (sudo usermod -aG " + access.group
            + " $USER), then log out and in again.";
    }
    return {ExitStatus::NoPermission, std::move(message), std::move(advice), commNoPermission, 0};
}

} // namespace isp::cli
