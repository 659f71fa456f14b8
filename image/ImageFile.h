#pragma once

#include "image/ImageLayout.h"

#include <array>
#include <cstdint>
#include <string>

// Reading a firmware image file: exactly 28672 bytes, or refused.
namespace isp {

struct ImageLoadResult {
    enum class Outcome {
        Loaded,      // bytes holds the whole image
        WrongLength, // the file is not 28672 bytes long; bytes holds nothing
        Unreadable,  // the file could not be opened or read; see reason
    };

    Outcome outcome = Outcome::Unreadable;
    ImageBytes bytes{};
    std::uintmax_t length = 0; // the file's length, when known
    std::string reason;        // for Unreadable: what went wrong, in English
};

// A longer file is refused by its length, unread, so a huge file costs
// nothing; never blocks on a FIFO or a device; all 28672 bytes or nothing.
ImageLoadResult loadImageFile(const std::string& path);

} // namespace isp
