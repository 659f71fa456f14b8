#include "cli/ListCommand.h"

#include <algorithm>
#include <cstdio>

namespace isp::cli {
namespace {

const char* stateName(platform::PortUse::State state)
{
    switch (state) {
    case platform::PortUse::State::Free: return "free";
    case platform::PortUse::State::Held: return "held";
    case platform::PortUse::State::NoPermission: return "no-permission";
    case platform::PortUse::State::Missing: return "missing";
    case platform::PortUse::State::Unknown: return "unknown";
    }
    return "unknown";
}

std::string usbId(std::uint16_t id)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
    return text;
}

// "FT232R USB UART, FTDI, serial A10KXYZ1, USB 0403:6001"; empty if nothing is known.
std::string aboutPort(const PortInfo& info)
{
    std::vector<std::string> parts;
    if (!info.description.empty())
        parts.push_back(info.description);
    if (!info.manufacturer.empty())
        parts.push_back(info.manufacturer);
    if (!info.serialNumber.empty())
        parts.push_back("serial " + info.serialNumber);
    if (info.vendorId && info.productId)
        parts.push_back("USB " + usbId(*info.vendorId) + ":" + usbId(*info.productId));
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

} // namespace

std::vector<ListedPort> systemPortList()
{
    std::vector<ListedPort> ports;
    for (PortInfo& info : platform::listSerialPorts()) {
        platform::PortUse use = platform::portAvailability(info.path);
        ports.push_back({std::move(info), std::move(use)});
    }
    return ports;
}

void writePortList(const std::vector<ListedPort>& ports, std::ostream& out)
{
    if (ports.empty()) {
        out << "No serial ports found.\n";
        return;
    }
    std::size_t pathWidth = 0;
    for (const ListedPort& port : ports)
        pathWidth = std::max(pathWidth, port.info.path.size());
    for (const ListedPort& port : ports) {
        std::string com = "COM" + std::to_string(port.info.com);
        com.resize(std::max<std::size_t>(com.size() + 1, 6), ' ');
        std::string path = port.info.path;
        path.resize(pathWidth + 2, ' ');
        out << com << path << port.use.text << '\n';
        const std::string indent(6, ' ');
        if (const std::string about = aboutPort(port.info); !about.empty())
            out << indent << about << '\n';
        for (const std::string& link : port.info.links)
            out << indent << link << '\n';
    }
}

void writePortListJson(const std::vector<ListedPort>& ports, JsonLines& lines)
{
    using Json = nlohmann::ordered_json;
    for (const ListedPort& port : ports) {
        Json holders = Json::array();
        for (const auto& holder : port.use.holders) {
            holders.push_back({{"pid", holder.processId != 0 ? Json(holder.processId) : Json(nullptr)},
                {"program", holder.program.empty() ? Json(nullptr) : Json(holder.program)}});
        }
        const auto optionalText = [](const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); };
        Json line;
        line["com"] = port.info.com;
        line["device"] = port.info.path;
        line["links"] = port.info.links;
        line["description"] = optionalText(port.info.description);
        line["manufacturer"] = optionalText(port.info.manufacturer);
        line["serial_number"] = optionalText(port.info.serialNumber);
        line["vendor_id"] = port.info.vendorId ? Json(usbId(*port.info.vendorId)) : Json(nullptr);
        line["product_id"] = port.info.productId ? Json(usbId(*port.info.productId)) : Json(nullptr);
        line["availability"] = stateName(port.use.state);
        line["availability_text"] = port.use.text;
        line["holders"] = holders;
        lines.write("port", line);
    }
}

ExitStatus runList(const ListOptions& options, Console& console)
{
    const std::vector<ListedPort> ports = systemPortList();
    if (options.json) {
        JsonLines lines(console.out, SteadyClock::instance(), SteadyClock::instance().now());
        writePortListJson(ports, lines);
    } else {
        writePortList(ports, console.out);
    }
    return ExitStatus::Ok;
}

} // namespace isp::cli
