// What a PORT names on Windows: COMn is the system's own name, and a device
// name \\.\NAME cannot be looked at without opening it.
#include "cli/PortChoice.h"
#include "cli/Utf8Path.h"

#include <filesystem>

namespace isp::cli {
namespace {

PathKind inspectName(const std::string& name)
{
    if (name.rfind(WindowsDevicePrefix, 0) == 0)
        return PathKind::SerialDevice;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(pathFromUtf8(name), error);
    switch (status.type()) {
    case std::filesystem::file_type::regular: return PathKind::RegularFile;
    case std::filesystem::file_type::directory: return PathKind::Folder;
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::none: return PathKind::Missing;
    default: return PathKind::Other;
    }
}

} // namespace

PortSystem thisPortSystem()
{
    // COMn needs no list here: the system knows its COMn at every opening.
    return {true, {}, inspectName, [](const std::string& name) { return name; }};
}

} // namespace isp::cli
