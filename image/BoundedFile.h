#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reading a whole file whose size has a limit, for the window and the command
// line, which take whatever name the user gives: a folder, a FIFO or a device
// is refused without waiting on it, and a file over the limit without reading
// it.
namespace isp {

struct FileReadResult {
    enum class Outcome {
        Read,       // bytes holds the whole file
        TooLarge,   // the file is longer than the limit; nothing was read
        Unreadable, // the name is not a file that can be read; see reason
    };

    Outcome outcome = Outcome::Unreadable;
    std::vector<std::uint8_t> bytes;
    std::uintmax_t length = 0; // the file's length, when known
    std::string reason;        // for Unreadable: what went wrong, in English
};

// path is UTF-8, as the command line passes names on Linux; on Windows it
// is converted to the UTF-16 the system takes.
FileReadResult readBoundedFile(const std::string& path, std::uintmax_t limit);

} // namespace isp
