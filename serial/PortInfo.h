#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the system tells about one serial port, for listing it to the user.
namespace isp {

struct PortInfo {
    std::string path;               // "/dev/ttyUSB0"; on Windows "COM3"
    std::vector<std::string> links; // stable names: "/dev/serial/by-id/...", "/dev/serial/by-path/..."
    std::string description;        // the product, e.g. "FT232R USB UART"
    std::string manufacturer;       // e.g. "FTDI"
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
};

} // namespace isp
