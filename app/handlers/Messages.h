#pragma once

#include "serial/CommError.h"

#include <string>
#include <vector>

// Every text the program shows in its message window.
namespace isp::messages {

// Two texts users know by heart, kept to the letter, odd spelling and blanks
// included; the program's other messages follow their form.
inline constexpr const char* PortHeld = " this COM have already be opened by other program! ";
inline constexpr const char* FileError = "WARNNING: file error!";
// Opening with no port in the box: start-up found none, and only a new
// start-up lists ports again.
inline constexpr const char* NoPortListed =
    " no COM port was found when the program started: plug the adapter in and start the program again! ";
// The same when the system has ports, but all of them above COM16, which
// the program never offers (`above`: their numbers, ascending).
std::string noPortListed(const std::vector<int>& above);

// Why the user's opening of the port failed (anything but PortHeld).
std::string openFailed(const CommResult& failure);
// Why the port was closed under a running upload.
std::string lineFailed(const CommResult& failure);
// Why an image file could not be read.
std::string fileUnreadable(const std::string& reason);

} // namespace isp::messages
