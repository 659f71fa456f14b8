#pragma once

#include "serial/CommError.h"

// The exit statuses of the command line, one per cause a script may want to
// act on. They are documented in the manual page and the README and never
// change meaning.
namespace isp::cli {

enum class ExitStatus : int {
    Ok = 0,             // the board got every page (list, info, convert: done)
    Failure = 1,        // anything not named below
    Usage = 2,          // the command line itself is wrong
    ImageRefused = 3,   // the image file is missing, unreadable or not an image for this device
    PortMissing = 4,    // no such port (adapter unplugged, wrong name)
    NoPermission = 5,   // this user may not open the port (dialout group)
    PortHeld = 6,       // another program holds the port
    NoFirstRequest = 7, // the device did not ask for a page in time
    PagesMissing = 8,   // the device went silent before every page was sent
    PortLost = 9,       // the port went away during the upload
    Interrupted = 130,  // Ctrl-C or SIGTERM; 128 + SIGINT, as shells report it
};

inline int toInt(ExitStatus status)
{
    return static_cast<int>(status);
}

// The status's name in JSON output: "ok", "port-held", ...
const char* exitStatusName(ExitStatus status);

// Why opening the port failed, as an exit status.
ExitStatus exitStatusForOpening(const CommResult& failure);
// Why the port failed under a running upload, as an exit status.
ExitStatus exitStatusForLineFailure(const CommResult& failure);

} // namespace isp::cli
