#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One serial port as the system's port discovery reports it. Plain data,
// the same on every platform; what is not known stays empty.
namespace isp {

struct PortInfo {
    int com = 0;      // n of COMn, as every front end numbers the port
    std::string path; // the device to open: "/dev/ttyUSB0"
    std::vector<std::string>
        links;                // names that survive re-plugging: "/dev/serial/by-id/...", "/dev/serial/by-path/..."
    std::string description;  // what the device calls itself, e.g. "FT232R USB UART"
    std::string manufacturer; // e.g. "FTDI"
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;

    bool operator==(const PortInfo&) const = default;
};

} // namespace isp
