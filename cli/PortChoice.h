#pragma once

#include "cli/RunFacts.h"
#include "serial/PortDirectory.h"
#include "serial/PortInfo.h"

#include <memory>
#include <string>
#include <vector>

// The PORT of the command line, turned into what the serial component needs:
// a port directory and the n of COMn to open in it.
//
// "COMn" (any case) numbers the ports as the window does: on Linux the nth of
// the system's serial ports in natural order of their device paths, on
// Windows the system's own COMn. Anything else is the device itself: a path
// such as /dev/ttyUSB0, or a link that survives re-plugging
// (/dev/serial/by-id/..., /dev/serial/by-path/...), opened as COM1 of a
// directory of that one device. A link is followed once, here: the device it
// names is what is opened (and what lock files and other programs name), and
// messages show both.
namespace isp::cli {

struct PortChoice {
    PortFacts facts;
    std::unique_ptr<PortDirectory> directory;
    int number = 1; // n of COMn in `directory`
};

// `systemPorts` is the system's list in COMn order (platform::listSerialPorts()),
// `systemDirectory` what COMn means on this system (platform::makePortDirectory()).
PortChoice choosePort(const std::string& argument, std::unique_ptr<PortDirectory> systemDirectory,
    const std::vector<PortInfo>& systemPorts);

// The same, with this system's port directory and list.
PortChoice choosePort(const std::string& argument);

} // namespace isp::cli
