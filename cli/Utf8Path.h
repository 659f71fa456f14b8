#pragma once

#include <filesystem>
#include <string>

// A file name the command line was given, taken as UTF-8 (as the image reader
// takes it too), as a path to open a file with.
namespace isp::cli {

inline std::filesystem::path pathFromUtf8(const std::string& utf8)
{
    return {std::u8string(utf8.begin(), utf8.end())};
}

} // namespace isp::cli
