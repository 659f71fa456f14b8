#pragma once

#include <functional>
#include <string>
#include <vector>

// Which device is COMn. On Linux the serial ports the system reports are
// sorted in natural order of their device path ("/dev/ttyS2" before
// "/dev/ttyS10", "/dev/ttyS*" before "/dev/ttyUSB*"), and the nth is COMn.
// Tests inject their own list, for example of pseudo-terminals.
namespace isp {

using PortLister = std::function<std::vector<std::string>()>;

// Lists the system's serial ports as Qt's port discovery reports them.
std::vector<std::string> systemSerialPorts();

// Sorts device paths so that runs of digits compare by value.
void sortNaturally(std::vector<std::string>& paths);

class PortDirectory {
public:
    explicit PortDirectory(PortLister lister = systemSerialPorts) : lister_(std::move(lister)) {}

    // The device path of COMn (n from 1), or empty when there is none. The
    // list is taken once, on first use, since asking the system costs
    // milliseconds and the port is reopened around every page; it is taken
    // again when the device remembered for COMn is gone, so that an adapter
    // plugged back in (perhaps under a new name) is found.
    std::string pathOf(int n);

    // Asks the system again (the start-up scan does, once).
    void refresh();

private:
    std::string listedPath(int n) const;

    PortLister lister_;
    std::vector<std::string> paths_;
    bool listed_ = false;
};

} // namespace isp
