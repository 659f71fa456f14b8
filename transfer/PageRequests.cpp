#include "transfer/PageRequests.h"

#include "transfer/Protocol.h"

namespace isp {

PageRequests::PageRequests(SharedState& state, SerialComponent& comm, Timer& timer)
    : state_(state), comm_(comm), timer_(timer)
{
}

PageRequests::Outcome PageRequests::MSComm1_OnComm()
{
    using Kind = Outcome::Kind;
    const int event = comm_.CommEvent();
    if (event == comEventDeviceGone)
        return {Kind::DeviceGone, {}};
    // Line errors, modem-line changes and send events do not concern the
    // upload: the device simply asks again.
    if (event != comEvReceive)
        return {Kind::NotReceive, {}};

    // Right after the user opens the port a notification comes after two
    // characters: they stay in the component, which completes them with the
    // next ones, or throws them away with everything unread when the port
    // closes or when no more follow (a fragment followed by silence is noise).
    if (comm_.InBufferCount() < RequestLength)
        return {Kind::Incomplete, {}};
    std::string request = comm_.Input();
    if (request.size() < static_cast<std::size_t>(RequestLength))
        return {Kind::Incomplete, {}}; // only with an InputLen this program never sets

    // The component hands over one character per byte, its code being the
    // byte's value (a byte with a wrong parity bit arrives as '?', 63). Bytes
    // of 0x80 and above thus exceed both limits and are never a page.
    // Whatever follows the first request in the same notification is dropped.
    const int c2 = static_cast<unsigned char>(request[2]);
    const int c3 = static_cast<unsigned char>(request[3]);
    if (c3 > MaxSecondAddend || c2 > MaxFirstAddend)
        return {Kind::OutOfLimits, std::move(request)};

    state_.PageNumber = static_cast<std::uint8_t>(c2 + c3);
    timer_.setInterval(static_cast<int>(RequestToPageDelay.count()));
    timer_.setEnabled(true);
    return {Kind::Armed, std::move(request)};
}

} // namespace isp
