#include "transfer/Transfer.h"

#include "transfer/PortOpening.h"
#include "transfer/Protocol.h"

#include <algorithm>

namespace isp {

Transfer::Transfer(SerialComponent& MSComm1, Timer& Timer1, ProgressDisplay& progress, Clock& clock)
    : MSComm1_(MSComm1),
      Timer1_(Timer1),
      sender_(state_, MSComm1, Timer1, progress, clock),
      requests_(state_, MSComm1, Timer1)
{
}

void Transfer::start()
{
    state_.PageNumber = IdlePage;
    state_.FileLoadedFlag = 0;
    state_.PortOpenFlag = 0;
    Timer1_.setInterval(0);
    Timer1_.setEnabled(false);
}

CommResult Transfer::openPort()
{
    // Port 0 names no port; stop before the component is left pointing at
    // another one.
    CommResult opened = openForBootLoader(MSComm1_, state_.PortNumber, MarkSettings, OpeningRThreshold);
    if (!opened)
        return opened;
    // Asked once here: the adapter keeps it through the page sender's
    // reopenings, which stay as quick as they were.
    MSComm1_.requestLowLatency();
    state_.PortOpenFlag = 1;
    return opened;
}

void Transfer::closePort()
{
    (void)MSComm1_.setPortOpen(false);
    state_.PortOpenFlag = 0;
}

Transfer::Pick Transfer::pickPort(int n)
{
    if (n == state_.PortNumber)
        return Pick::Same;
    // While the port is open the pick is ignored, and not remembered.
    if (state_.PortOpenFlag != 0)
        return Pick::RefusedWhileOpen;
    state_.PortNumber = static_cast<std::uint8_t>(n);
    closePort();
    return Pick::Taken;
}

void Transfer::useImage(const ImageBytes& image)
{
    std::copy(image.begin(), image.end(), state_.ImageBuffer.begin());
    state_.FileLoadedFlag = 1;
}

} // namespace isp
