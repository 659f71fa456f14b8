#include "serial/posix/UdevPorts.h"

#include "serial/PortOrder.h"

#include <libudev.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string_view>

namespace isp {
namespace {

constexpr std::string_view StableLinkPrefix = "/dev/serial/";
// The names udev keeps for a device's own strings and their fall-backs.
constexpr std::string_view ModelKey = "ID_MODEL";
constexpr std::string_view VendorKey = "ID_VENDOR";

struct UdevUnref {
    void operator()(udev* context) const { ::udev_unref(context); }
    void operator()(udev_enumerate* enumeration) const { ::udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { ::udev_device_unref(device); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

const std::string& valueOf(const std::map<std::string, std::string>& values, std::string_view key)
{
    static const std::string none;
    const auto found = values.find(std::string(key));
    return found == values.end() ? none : found->second;
}

bool startsWithThenNumberUpTo(std::string_view name, std::string_view prefix, int limit)
{
    if (!name.starts_with(prefix) || name.size() == prefix.size())
        return false;
    name.remove_prefix(prefix.size());
    int number = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    return error == std::errc() && end == name.data() + name.size() && number >= 0 && number <= limit;
}

// A port without a parent device that Qt lists all the same.
bool isParentlessPort(std::string_view name)
{
    return startsWithThenNumberUpTo(name, "rfcomm", 255) // Bluetooth RFCOMM, bound with `rfcomm bind`
        || name.starts_with("tnt")                       // the tty0tty null-modem driver
        || name.starts_with("ttyGS");                    // USB gadget serial, the board's side of the cable
}

// A name the device gives itself (ID_MODEL or ID_VENDOR, from the device's
// string descriptor), else one from the USB id database.
std::string deviceName(const TtyDevice& device, std::string_view key, std::string_view usbAttribute)
{
    const std::string keyText(key);
    std::string own;
    if (const std::string& encoded = valueOf(device.properties, keyText + "_ENC"); !encoded.empty()) {
        own = trimmed(decodeUdevEscapes(encoded));
    } else {
        own = valueOf(device.properties, key);
        std::replace(own.begin(), own.end(), '_', ' ');
        own = trimmed(own);
    }
    // Without a string of its own, udev names the device by its hex id.
    if (!own.empty() && own != valueOf(device.properties, keyText + "_ID"))
        return own;
    if (std::string attribute = trimmed(valueOf(device.usbAttributes, usbAttribute)); !attribute.empty())
        return attribute;
    return trimmed(valueOf(device.properties, keyText + "_FROM_DATABASE"));
}

std::optional<std::uint16_t> hexId(const std::string& text)
{
    const std::string digits = trimmed(text);
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> usbId(const TtyDevice& device, std::string_view property, std::string_view attribute)
{
    const std::string& fromUdev = valueOf(device.properties, property);
    return hexId(fromUdev.empty() ? valueOf(device.usbAttributes, attribute) : fromUdev);
}

std::string text(const char* value)
{
    return value == nullptr ? std::string() : std::string(value);
}

TtyDevice ttyDeviceOf(udev_device* device)
{
    TtyDevice tty;
    tty.name = text(::udev_device_get_sysname(device));
    tty.node = text(::udev_device_get_devnode(device));
    tty.hasParent = ::udev_device_get_parent(device) != nullptr;
    if (!tty.hasParent)
        return tty; // a console, /dev/tty, /dev/ptmx, or a parentless port: nothing more is read
    if (const char* type = ::udev_device_get_sysattr_value(device, "type")) {
        int value = 0;
        const std::string_view typeText(type);
        if (std::from_chars(typeText.data(), typeText.data() + typeText.size(), value).ec == std::errc())
            tty.uartType = value;
    }
    for (const std::string_view key : {ModelKey, VendorKey}) {
        for (const std::string_view suffix : {"", "_ENC", "_ID", "_FROM_DATABASE"}) {
            const std::string name = std::string(key) + std::string(suffix);
            if (const char* value = ::udev_device_get_property_value(device, name.c_str()))
                tty.properties[name] = value;
        }
    }
    if (const char* serial = ::udev_device_get_property_value(device, "ID_SERIAL_SHORT"))
        tty.properties["ID_SERIAL_SHORT"] = serial;
    // The parent is owned by the device and goes with it.
    if (udev_device* usb = ::udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
        for (const char* attribute : {"product", "manufacturer", "serial", "idVendor", "idProduct"}) {
            if (const char* value = ::udev_device_get_sysattr_value(usb, attribute))
                tty.usbAttributes[attribute] = value;
        }
    }
    udev_list_entry* link = nullptr;
    udev_list_entry_foreach(link, ::udev_device_get_devlinks_list_entry(device))
    {
        tty.links.push_back(text(::udev_list_entry_get_name(link)));
    }
    return tty;
}

} // namespace

std::string decodeUdevEscapes(const std::string& text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const auto [end, error] = std::from_chars(text.data() + i + 2, text.data() + i + 4, value, 16);
            if (error == std::errc() && end == text.data() + i + 4) {
                decoded += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

bool isSerialPort(const TtyDevice& device)
{
    if (device.node.empty())
        return false;
    if (!device.hasParent)
        return isParentlessPort(device.name);
    // The serial core's port with no UART found at its address (PORT_UNKNOWN).
    return !device.uartType || *device.uartType != 0;
}

PortInfo portInfoOf(const TtyDevice& device)
{
    PortInfo info;
    info.path = device.node;
    for (const std::string& link : device.links) {
        if (link.starts_with(StableLinkPrefix))
            info.links.push_back(link);
    }
    std::sort(info.links.begin(), info.links.end());
    info.description = deviceName(device, ModelKey, "product");
    info.manufacturer = deviceName(device, VendorKey, "manufacturer");
    info.serialNumber = trimmed(valueOf(device.properties, "ID_SERIAL_SHORT"));
    if (info.serialNumber.empty())
        info.serialNumber = trimmed(valueOf(device.usbAttributes, "serial"));
    info.vendorId = usbId(device, "ID_VENDOR_ID", "idVendor");
    info.productId = usbId(device, "ID_MODEL_ID", "idProduct");
    return info;
}

std::vector<PortInfo> serialPortsAmong(const std::vector<TtyDevice>& devices)
{
    std::vector<PortInfo> ports;
    for (const TtyDevice& device : devices) {
        if (isSerialPort(device))
            ports.push_back(portInfoOf(device));
    }
    std::sort(ports.begin(), ports.end(),
        [](const PortInfo& a, const PortInfo& b) { return naturalPathLess(a.path, b.path); });
    return ports;
}

std::vector<TtyDevice> udevTtyDevices()
{
    std::vector<TtyDevice> devices;
    const UdevPtr<udev> context(::udev_new());
    if (!context)
        return devices;
    const UdevPtr<udev_enumerate> enumeration(::udev_enumerate_new(context.get()));
    if (!enumeration || ::udev_enumerate_add_match_subsystem(enumeration.get(), "tty") < 0
        || ::udev_enumerate_scan_devices(enumeration.get()) < 0)
        return devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, ::udev_enumerate_get_list_entry(enumeration.get()))
    {
        // A device that went away since the listing is skipped.
        const UdevPtr<udev_device> device(
            ::udev_device_new_from_syspath(context.get(), ::udev_list_entry_get_name(entry)));
        if (device)
            devices.push_back(ttyDeviceOf(device.get()));
    }
    return devices;
}

std::vector<PortInfo> listSerialPortsWithUdev()
{
    return serialPortsAmong(udevTtyDevices());
}

} // namespace isp
