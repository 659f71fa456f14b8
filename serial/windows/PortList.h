#pragma once

#include "serial/PortDirectory.h"
#include "serial/PortInfo.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Serial ports as Windows names them: COMn is the system's own COMn, the
// number the device manager shows and every other program uses. This
// program keeps no numbering of its own there.
namespace isp {

class ComPortDirectory final : public PortDirectory {
public:
    // The COM names the system has now ("COM3"), as its registry lists them.
    using ComNames = std::function<std::vector<std::string>()>;
    explicit ComPortDirectory(ComNames names = {}) : names_(std::move(names)) {}

    // "\\.\COMn": the prefix makes COM10 and above open.
    std::string pathOf(int n) const override;
    // Nothing to take: the system knows its COMn at every opening.
    void refresh() override {}
    std::vector<int> numbersAbove(int highest) const override;

private:
    ComNames names_;
};

// What the device manager tells about one port (SetupDi, class Ports).
struct DevicePort {
    std::string portName;     // "COM3", from the device's registry key
    std::string friendlyName; // "USB Serial Port (COM3)"
    std::string manufacturer; // "FTDI"
    std::string hardwareId;   // "FTDIBUS\COMPORT&VID_0403&PID_6001"
    std::string instanceId;   // "USB\VID_0403&PID_6001\A10KXYZ1"
};

// COMn of "COMn" (any case), or 0 when the name is not one.
int comNumber(std::string_view name);

// The ports of the system in COMn order: those the registry lists as present
// (HARDWARE\DEVICEMAP\SERIALCOMM, whose values are COM names) and those the
// device manager has, with what it tells about them.
std::vector<PortInfo> windowsPortList(const std::vector<std::string>& comNames, const std::vector<DevicePort>& devices);

} // namespace isp
