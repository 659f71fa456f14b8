#include "app/handlers/Messages.h"

namespace isp::messages {

std::string openFailed(const CommResult& failure)
{
    switch (failure.number()) {
    case commPortHeld: return PortHeld;
    case commNoSuchPort: return " this COM is not there: plug the adapter in and open it again! ";
    case commNoPermission: return " no permission to open this COM: join the dialout group and log in again! ";
    case commSettingsRejected:
        if (failure.refused().empty())
            return " this COM refused the line settings of the boot loader: use another adapter! ";
        return " this COM cannot " + failure.refused() + ": use another adapter! ";
    default: return " this COM could not be opened: " + clause(failure.text()) + "! ";
    }
}

std::string lineFailed(const CommResult& failure)
{
    switch (failure.number()) {
    case commDeviceGone:
    case commNoSuchPort: return " the COM port went away during the upload, it is closed now! ";
    case commTransmitStalled: return " the COM port stopped sending, it is closed now! ";
    default: return " the COM port failed during the upload (" + clause(failure.text()) + "), it is closed now! ";
    }
}

std::string noPortListed(const std::vector<int>& above)
{
    if (above.empty())
        return NoPortListed;
    std::string names;
    for (std::size_t i = 0; i < above.size(); ++i) {
        if (i > 0)
            names += i + 1 == above.size() ? " and " : ", ";
        names += "COM" + std::to_string(above[i]);
    }
    return " no COM port from COM1 to COM16 was found when the program started, only " + names
        + ": give the adapter a number from 1 to 16 and start the program again! ";
}

std::string fileUnreadable(const std::string& reason)
{
    return " cannot read this file: " + clause(reason) + "! ";
}

} // namespace isp::messages
