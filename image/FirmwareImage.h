#pragma once

#include "image/FormatDetection.h"
#include "image/ImageLayout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Reading a firmware image for the command line: a raw image of exactly
// 28672 bytes, or an Intel HEX or Motorola S-record file of addresses within
// 0x0000..0x6FFF. The contents decide the format, not the name.
namespace isp {

struct ImageReadResult {
    enum class Outcome {
        Read,       // bytes holds the image
        Refused,    // the file was read, but is not an image for this device; see reason
        Unreadable, // the file could not be read; see reason
    };

    Outcome outcome = Outcome::Unreadable;
    ImageFormat format = ImageFormat::Unknown; // what the contents are, as far as recognised
    ImageBytes bytes{};                        // when Read: the image, 0xFF where no record wrote
    std::vector<std::string> warnings;         // worth telling even when Read, in English
    std::string reason;                        // for Refused and Unreadable: why, in English
    int line = 0;                              // for a refused record file: the line at fault; 0: none
    std::optional<std::uint32_t> address;      // for a refused record file: the address at fault, if one
    std::uintmax_t length = 0;                 // the file's length in bytes, when known

    bool ok() const { return outcome == Outcome::Read; }
};

// Files longer than this are refused by their length without being read.
// Records of the whole image, one byte a record, take under half a MiB.
inline constexpr std::uintmax_t MaxImageFileLength = std::uintmax_t{4} << 20;

// The warning that comes with an image of nothing but 0xFF.
inline constexpr const char* AllErasedWarning =
    "every byte of the image is 0xFF: an upload leaves the device's flash erased, with no program in it";

// The image in a file's contents. fileName only serves to notice a name that
// says another format than the contents (a warning); it is never opened.
ImageReadResult parseFirmwareImage(std::span<const std::uint8_t> contents, std::string_view fileName);

// Reads the file (UTF-8 name) and the image in it. A folder, FIFO or device
// is refused without waiting on it.
ImageReadResult readFirmwareImage(const std::string& path);

} // namespace isp
