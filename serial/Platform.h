#pragma once

#include "serial/EventLoop.h"
#include "serial/MainLoop.h"
#include "serial/PortDirectory.h"
#include "serial/PortInfo.h"
#include "serial/SerialLine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The serial backend and port discovery of the system the program was built
// for. The build picks the implementation (serial/posix/ or
// serial/windows/); no front end names a platform class, so the window and
// the command line open, number and list ports the same way.
namespace isp::platform {

// The event loop of a program without a window on this system.
std::unique_ptr<MainLoop> makeMainLoop();

// A line on this system's serial devices, watched by `loop`.
std::unique_ptr<SerialLine> makeSerialLine(EventLoop& loop);

// What COMn means on this system.
std::unique_ptr<PortDirectory> makePortDirectory();

// The serial ports of this system, in COMn order, each with its n of COMn
// and what the system tells about it.
std::vector<PortInfo> listSerialPorts();

// Whether a port could be opened now, told without opening it (an opening
// may reset the board on it) and without changing anything: for a list of
// the ports.
struct PortUse {
    enum class State {
        Free,
        Held,         // another program has it, or has locked it
        NoPermission, // this user may not open it
        Missing,      // no such device
        Unknown,      // there, but whether it is free shows only at its opening
    };
    struct Holder {
        std::int64_t processId = 0; // 0 when not known
        std::string program;        // empty when not known
    };
    State state = State::Free;
    std::vector<Holder> holders; // Held: who, as far as known
    std::string text;            // "free", "held by picocom (process 1234)", "no permission", "missing"
};
PortUse portAvailability(const std::string& device);

// Process-wide settings that keep the pages' timing exact (on Linux, timer
// slack: the default 50 us would be added to every sleep). Called once, by
// main.
void tuneProcessForTiming();

} // namespace isp::platform
