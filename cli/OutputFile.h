#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <span>
#include <string>

// Files the command line writes (convert's image, the trace), named in UTF-8;
// when one cannot be written, the system's own reason says why.
namespace isp::cli {

// Opens (and empties) `name` for writing; the reason when it cannot.
std::optional<std::string> openForWriting(std::ofstream& file, const std::string& name);

// Writes the whole file; the reason when it cannot.
std::optional<std::string> writeWholeFile(const std::string& name, std::span<const std::uint8_t> bytes);

} // namespace isp::cli
