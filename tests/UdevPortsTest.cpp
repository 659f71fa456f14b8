// Port discovery through udev: which tty devices are ports and how their
// properties become a PortInfo, with made-up devices; and the real list of
// this machine against the one Qt's discovery makes.
#include "serial/posix/UdevPorts.h"

#ifdef ISP_COMPARE_WITH_QT
#include <QSerialPortInfo>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace isp;

namespace {

TtyDevice tty(const std::string& name, bool hasParent, std::optional<int> uartType = std::nullopt)
{
    return {name, "/dev/" + name, hasParent, uartType, {}, {}, {}};
}

TEST(UdevPorts, KeepsTtysOnABusDeviceAndTheParentlessKindsQtKeeps)
{
    TtyDevice withoutNode = tty("ttyUSB3", true);
    withoutNode.node.clear();
    const std::vector<TtyDevice> devices{tty("ttyUSB10", true), tty("console", false), tty("tty0", false),
        tty("ttyS0", true, 4), // a 16550A answered
        tty("ttyS1", true, 0), // the 8250 driver's placeholder: no UART there
        tty("ttyUSB9", true), tty("ttyACM0", true), tty("rfcomm0", false), tty("rfcomm256", false),
        tty("rfcommX", false), tty("tnt0", false), tty("ttyGS0", false), withoutNode, tty("ttyS10", true, 4),
        tty("ttyS2", true, 4)};
    std::vector<std::string> paths;
    for (const PortInfo& port : serialPortsAmong(devices))
        paths.push_back(port.path);
    EXPECT_EQ(paths,
        (std::vector<std::string>{"/dev/rfcomm0", "/dev/tnt0", "/dev/ttyACM0", "/dev/ttyGS0", "/dev/ttyS0",
            "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB9", "/dev/ttyUSB10"}));
}

TEST(UdevPorts, DescribesAPortByTheNamesTheDeviceGivesItself)
{
    TtyDevice ftdi = tty("ttyUSB0", true);
    ftdi.properties = {{"ID_MODEL", "FT232R_USB_UART"}, {"ID_MODEL_ENC", "FT232R\\x20USB\\x20UART"},
        {"ID_MODEL_FROM_DATABASE", "FT232 Serial (UART) IC"}, {"ID_MODEL_ID", "6001"}, {"ID_VENDOR", "FTDI"},
        {"ID_VENDOR_FROM_DATABASE", "Future Technology Devices International, Ltd"}, {"ID_VENDOR_ID", "0403"},
        {"ID_SERIAL_SHORT", "A50285BI"}};
    ftdi.links = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "/dev/gps0",
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
    EXPECT_EQ(portInfoOf(ftdi),
        (PortInfo{0, "/dev/ttyUSB0",
            {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"},
            "FT232R USB UART", "FTDI", "A50285BI", 0x0403, 0x6001}));

    // ID_MODEL has every space made '_'; the escaped form keeps the string.
    TtyDevice underscores = tty("ttyACM0", true);
    underscores.properties = {{"ID_MODEL", "USB_Serial_Port"}, {"ID_MODEL_ENC", "USB_Serial\\x20Port"}};
    EXPECT_EQ(portInfoOf(underscores).description, "USB_Serial Port");

    // Without a string of its own udev names the device by its id; the
    // database knows better. An id that is not hex is none.
    TtyDevice bare = tty("ttyUSB1", true);
    bare.properties = {{"ID_MODEL", "ea60"}, {"ID_MODEL_ID", "ea60"}, {"ID_MODEL_FROM_DATABASE", "CP210x UART Bridge"},
        {"ID_VENDOR", "Silicon_Labs"}, {"ID_VENDOR_ID", "zz12"}};
    EXPECT_EQ(
        portInfoOf(bare), (PortInfo{0, "/dev/ttyUSB1", {}, "CP210x UART Bridge", "Silicon Labs", "", {}, 0xea60}));

    // Without the udev daemon (a container): the USB device's sysfs files.
    TtyDevice sysfsOnly = tty("ttyUSB2", true);
    sysfsOnly.usbAttributes = {{"product", "CP2102N USB to UART Bridge Controller"}, {"manufacturer", "Silicon Labs"},
        {"serial", "0001"}, {"idVendor", "10c4"}, {"idProduct", "ea60\n"}};
    EXPECT_EQ(portInfoOf(sysfsOnly),
        (PortInfo{
            0, "/dev/ttyUSB2", {}, "CP2102N USB to UART Bridge Controller", "Silicon Labs", "0001", 0x10c4, 0xea60}));
}

#ifdef ISP_COMPARE_WITH_QT
TEST(UdevPorts, ListsThePortsQtListsOnThisMachine)
{
    const std::vector<PortInfo> ours = listSerialPortsWithUdev();
    if (ours.empty() && QSerialPortInfo::availablePorts().isEmpty())
        GTEST_SKIP() << "no serial port on this machine to compare";
    std::size_t matched = 0;
    for (const QSerialPortInfo& qt : QSerialPortInfo::availablePorts()) {
        const std::string path = qt.systemLocation().toStdString();
        const auto our = std::find_if(ours.begin(), ours.end(), [&](const PortInfo& p) { return p.path == path; });
        if (our == ours.end()) {
            // Left out on purpose: a serial-core port with no UART behind it.
            std::string type;
            std::ifstream("/sys/class/tty/" + qt.portName().toStdString() + "/type") >> type;
            EXPECT_EQ(type, "0") << path << " is listed by Qt only";
            continue;
        }
        ++matched;
        // Where Qt knows them (from the udev daemon) they agree.
        if (qt.hasVendorIdentifier()) {
            EXPECT_EQ(our->vendorId, qt.vendorIdentifier()) << path;
        }
        if (qt.hasProductIdentifier()) {
            EXPECT_EQ(our->productId, qt.productIdentifier()) << path;
        }
        if (!qt.serialNumber().isEmpty()) {
            EXPECT_EQ(our->serialNumber, qt.serialNumber().toStdString()) << path;
        }
    }
    EXPECT_EQ(matched, ours.size()) << "ports that Qt does not list";
}
#endif

} // namespace
