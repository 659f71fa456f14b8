#pragma once

#include "serial/CommError.h"

#include <string>

// Every text the program shows in its message window.
namespace isp::messages {

// The two messages the boot-loader tool has always shown, kept to the letter.
inline constexpr const char* PortHeld = " this COM have already be opened by other program! ";
inline constexpr const char* FileError = "WARNNING: file error!";

// Why the user's opening of the port failed (anything but PortHeld).
std::string openFailed(const CommResult& failure);
// Why the port was closed under a running upload.
std::string lineFailed(const CommResult& failure);
// Why an image file could not be read.
std::string fileUnreadable(const std::string& reason);

} // namespace isp::messages
