#include "serial/windows/PortList.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>

namespace isp {
namespace {

std::string upper(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
        [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return result;
}

// The four hex digits after "VID_" or "PID_" in a hardware or instance id.
std::optional<std::uint16_t> idAfter(std::string_view id, std::string_view key)
{
    const std::string text = upper(id);
    const auto at = text.find(key);
    if (at == std::string::npos || at + key.size() + 4 > text.size())
        return std::nullopt;
    std::uint16_t value = 0;
    const char* first = text.data() + at + key.size();
    const auto [end, error] = std::from_chars(first, first + 4, value, 16);
    if (error != std::errc{} || end != first + 4)
        return std::nullopt;
    return value;
}

// A USB device's instance id ends in its serial number
// ("USB\VID_0403&PID_6001\A10KXYZ1"); Windows makes one up, with '&' in it,
// for a device that has none.
std::string serialNumberOf(std::string_view instanceId)
{
    if (upper(instanceId).rfind("USB\\", 0) != 0)
        return {};
    const auto slash = instanceId.rfind('\\');
    const std::string_view last = instanceId.substr(slash + 1);
    if (slash == std::string_view::npos || last.empty() || last.find('&') != std::string_view::npos)
        return {};
    return std::string(last);
}

} // namespace

std::string ComPortDirectory::pathOf(int n) const
{
    if (n < 1)
        return {};
    return R"(\\.\COM)" + std::to_string(n);
}

std::vector<int> ComPortDirectory::numbersAbove(int highest) const
{
    std::vector<int> numbers;
    if (!names_)
        return numbers;
    for (const std::string& name : names_()) {
        if (const int n = comNumber(name); n > highest)
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

int comNumber(std::string_view name)
{
    if (name.size() < 4 || upper(name.substr(0, 3)) != "COM")
        return 0;
    int n = 0;
    const auto [end, error] = std::from_chars(name.data() + 3, name.data() + name.size(), n);
    if (error != std::errc{} || end != name.data() + name.size() || n < 1)
        return 0;
    return n;
}

std::vector<PortInfo> windowsPortList(const std::vector<std::string>& comNames, const std::vector<DevicePort>& devices)
{
    const ComPortDirectory directory;
    std::map<int, PortInfo> ports;
    for (const std::string& name : comNames) {
        if (const int n = comNumber(name))
            ports[n].path = directory.pathOf(n);
    }
    for (const DevicePort& device : devices) {
        const int n = comNumber(device.portName);
        if (n == 0)
            continue;
        PortInfo& port = ports[n];
        port.path = directory.pathOf(n);
        port.description = device.friendlyName;
        port.manufacturer = device.manufacturer;
        port.serialNumber = serialNumberOf(device.instanceId);
        const std::string& ids = device.hardwareId.empty() ? device.instanceId : device.hardwareId;
        port.vendorId = idAfter(ids, "VID_");
        port.productId = idAfter(ids, "PID_");
    }
    std::vector<PortInfo> list;
    list.reserve(ports.size());
    for (auto& [n, port] : ports) {
        port.com = n;
        list.push_back(std::move(port));
    }
    return list;
}

} // namespace isp
