#pragma once

#include <functional>
#include <string>
#include <vector>

// Which device is COMn.
namespace isp {

class PortDirectory {
public:
    virtual ~PortDirectory() = default;

    // The device to open for COMn (n from 1), or empty when there is none.
    virtual std::string pathOf(int n) const = 0;
    // How messages name COMn: "COM2 (/dev/ttyUSB0)", or "COM2" alone when
    // it names no device. A directory of ports named otherwise says so.
    virtual std::string nameOf(int n) const;
    // Takes the system's list of ports again. The start-up scan does, once,
    // before it fills the port box.
    virtual void refresh() = 0;
    // The n of every COMn above `highest` that the system has: ports the
    // program never offers (it offers COM1 to COM16), to tell the user of.
    virtual std::vector<int> numbersAbove(int highest) const = 0;
};

// Device paths of the system's serial ports.
using PortLister = std::function<std::vector<std::string>()>;

// Where ports have no numbers of their own (Linux): COMn is the nth device
// of the system's list in natural order of the path ("/dev/ttyS2" before
// "/dev/ttyS10", "/dev/ttyS*" before "/dev/ttyUSB*").
//
// The list is taken by refresh(), or at the first use, and then kept: COMn
// keeps naming the device the user saw listed as COMn. Unplugged, it is
// simply not there; plugged in again under the same device node, it is
// COMn again. Asking the system costs milliseconds, and the port is
// reopened around every page.
class ListedPortDirectory final : public PortDirectory {
public:
    explicit ListedPortDirectory(PortLister lister) : lister_(std::move(lister)) {}

    std::string pathOf(int n) const override;
    void refresh() override;
    std::vector<int> numbersAbove(int highest) const override;

private:
    void list() const;

    PortLister lister_;
    mutable std::vector<std::string> paths_;
    mutable bool listed_ = false;
};

} // namespace isp
