#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the reports say about the run as a whole: which port, which image.
namespace isp::cli {

struct PortFacts {
    std::string argument;    // as given: "/dev/serial/by-id/usb-FTDI_...", "COM2", "/dev/ttyUSB0"
    std::string device;      // what is opened: "/dev/ttyUSB0"; empty for a COMn naming no port
    std::optional<int> com;  // the number the window gives the port, if it lists it
    std::string description; // for messages: "/dev/serial/by-id/usb-FTDI_... (/dev/ttyUSB0, COM2)"
};

struct ImageFacts {
    std::string file;
    std::string format;                // "raw binary", "Intel HEX", ...
    std::string crc32;                 // 8 lowercase hex digits
    std::string sha256;                // 64 lowercase hex digits
    int erasedPages = 0;               // pages all 0xFF
    std::uintmax_t fileLength = 0;     // bytes of the file it came from
    std::vector<std::string> warnings; // worth telling with every upload of it (an image all 0xFF)
};

struct RunFacts {
    PortFacts port;
    ImageFacts image;
};

} // namespace isp::cli
