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
    OutputLost = 10,    // stdout went away (its reader ended): the record of the boards is lost
    // Interrupted, 128 + the signal's number as shells and CI runners read it:
    HungUp = 129,      // SIGHUP: the terminal or the connection closed (Windows: the console window)
    Interrupted = 130, // SIGINT: Ctrl-C (Windows: Ctrl-C, Ctrl-Break)
    Terminated = 143,  // SIGTERM
};

// Whether the status is one of an interruption from outside.
inline bool isInterruption(ExitStatus status)
{
    return status == ExitStatus::HungUp || status == ExitStatus::Interrupted || status == ExitStatus::Terminated;
}

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
