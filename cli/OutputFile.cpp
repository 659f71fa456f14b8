#include "cli/OutputFile.h"

#include "cli/Utf8Path.h"

#include <cerrno>
#include <cstring>

namespace isp::cli {
namespace {

// The C library's words for the last failure ("No such file or directory",
// "Permission denied", "No space left on device").
std::string lastReason()
{
    return errno != 0 ? std::strerror(errno) : "the system gave no reason";
}

} // namespace

std::optional<std::string> openForWriting(std::ofstream& file, const std::string& name)
{
    errno = 0;
    file.open(pathFromUtf8(name), std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open())
        return lastReason();
    return std::nullopt;
}

std::optional<std::string> writeWholeFile(const std::string& name, std::span<const std::uint8_t> bytes)
{
    std::ofstream file;
    if (auto reason = openForWriting(file, name))
        return reason;
    errno = 0;
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        return lastReason();
    return std::nullopt;
}

} // namespace isp::cli
