#pragma once

#include "serial/PortInfo.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// The serial ports of a Linux system, from udev: the same set Qt's port
// discovery (QSerialPortInfo::availablePorts(), Qt 6.4) lists, without Qt.
//
// udev's "tty" subsystem holds every terminal device: the virtual consoles
// tty0..63, /dev/console, /dev/ptmx and the like, which are not ports, and
// the ports, which sit on a bus device: a USB interface, a PCI card, a UART
// of the mainboard. So a port is a tty with a parent device. Without one,
// only the kinds Qt also keeps count: Bluetooth links bound with `rfcomm
// bind` (rfcomm0..255), the tty0tty null modem (tnt*) and the USB gadget
// serial function of a board (ttyGS*).
//
// One exception: the 8250 driver registers as many ttyS ports as the kernel
// was configured for (often 4 or 32), whether or not a UART answers at their
// addresses. The serial core reports the UART type it found in the port's
// sysfs attribute "type", 0 when there was none; such a port is left out.
// Qt asks the same question with TIOCGSERIAL, which means opening every ttyS
// device (raising DTR on the real ones), and only when the parent's driver
// is "serial8250"; since Linux 6.5 the parent is the serial core's port
// device, so Qt 6.4 keeps the empty ports on newer kernels.
//
// udev reads the device list from sysfs; its daemon adds the properties from
// its database (ID_VENDOR, ID_MODEL, ... and the /dev/serial/ links). In a
// container without the daemon (no /run/udev) the same ports are listed, and
// the names and numbers come from the sysfs attributes of the USB device
// above the port instead (product, manufacturer, serial, idVendor,
// idProduct); there are no stable links then. Without sysfs the list is
// empty: Qt then guesses from the names in /dev, where a ttyS node tells
// nothing about a UART behind it.
namespace isp {

// What udev tells about one device of the "tty" subsystem: the input of the
// decisions below, so that they can be tried with made-up devices.
struct TtyDevice {
    std::string name; // "ttyUSB0"
    std::string node; // "/dev/ttyUSB0"
    bool hasParent = false;
    std::optional<int> uartType; // the serial core's "type" attribute, for its ports
    // udev properties: ID_MODEL, ID_MODEL_ENC, ID_MODEL_FROM_DATABASE, ID_MODEL_ID,
    // the same for ID_VENDOR, ID_SERIAL_SHORT.
    std::map<std::string, std::string> properties;
    // sysfs attributes of the USB device above the port: product,
    // manufacturer, serial, idVendor, idProduct.
    std::map<std::string, std::string> usbAttributes;
    std::vector<std::string> links; // udev's DEVLINKS
};

// True if the device is a serial port (see above).
bool isSerialPort(const TtyDevice& device);

// The port's description.
//
// The description and the manufacturer are the strings the device reports
// itself, as Qt shows them ("FT232R USB UART", "FTDI"); udev keeps them
// exactly in ID_MODEL_ENC (escaped), with spaces made '_' in ID_MODEL. For
// a device without such a string udev puts its hex id there ("6001"), and
// the name from the USB id database (ID_MODEL_FROM_DATABASE) is shown
// instead. Links are those below /dev/serial/.
PortInfo portInfoOf(const TtyDevice& device);

// The serial ports among the devices, in natural order of their paths.
std::vector<PortInfo> serialPortsAmong(const std::vector<TtyDevice>& devices);

// udev's "tty" devices on this system.
std::vector<TtyDevice> udevTtyDevices();

// The serial ports of this system: serialPortsAmong(udevTtyDevices()).
std::vector<PortInfo> listSerialPortsWithUdev();

// Undoes udev's escaping of property values (\x20 for a space).
std::string decodeUdevEscapes(const std::string& text);

} // namespace isp
