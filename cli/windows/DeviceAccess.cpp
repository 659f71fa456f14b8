// Windows gives a COM port no owner or mode a user could change: a port it
// refuses to open is one another program holds.
#include "cli/DeviceAccess.h"

namespace isp::cli {

std::optional<DeviceAccess> deviceAccessOf(const std::string&)
{
    return std::nullopt;
}

} // namespace isp::cli
