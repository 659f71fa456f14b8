#include "serial/Platform.h"

#include "serial/posix/PollEventLoop.h"
#include "serial/posix/PortAvailability.h"
#include "serial/posix/PosixLine.h"
#include "serial/posix/UdevPorts.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace isp::platform {

std::unique_ptr<MainLoop> makeMainLoop()
{
    return std::make_unique<PollEventLoop>();
}

std::unique_ptr<SerialLine> makeSerialLine(EventLoop& loop)
{
    return std::make_unique<PosixLine>(loop);
}

std::unique_ptr<PortDirectory> makePortDirectory()
{
    return std::make_unique<ListedPortDirectory>([] {
        std::vector<std::string> paths;
        for (const PortInfo& port : listSerialPorts())
            paths.push_back(port.path);
        return paths;
    });
}

std::vector<PortInfo> listSerialPorts()
{
    // Ports have no numbers of their own here: COMn is the nth in the order
    // the port directory sorts them.
    std::vector<PortInfo> ports = listSerialPortsWithUdev();
    for (std::size_t i = 0; i < ports.size(); ++i)
        ports[i].com = static_cast<int>(i) + 1;
    return ports;
}

PortUse portAvailability(const std::string& device)
{
    const PortAvailability found = checkPortAvailability(device);
    PortUse use;
    switch (found.state) {
    case PortState::Free: use.state = PortUse::State::Free; break;
    case PortState::Held: use.state = PortUse::State::Held; break;
    case PortState::NoPermission: use.state = PortUse::State::NoPermission; break;
    case PortState::Missing: use.state = PortUse::State::Missing; break;
    }
    for (const PortHolder& holder : found.holders)
        use.holders.push_back({holder.pid, holder.program});
    use.text = describe(found);
    return use;
}

void tuneProcessForTiming()
{
#ifdef __linux__
    ::prctl(PR_SET_TIMERSLACK, 1UL);
#endif
}

} // namespace isp::platform
