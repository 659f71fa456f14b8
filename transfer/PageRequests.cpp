#include "transfer/PageRequests.h"

#include "transfer/Protocol.h"

namespace isp {

PageRequests::PageRequests(SharedState& state, SerialComponent& comm, Timer& timer)
    : state_(state), comm_(comm), timer_(timer)
{
}

PageRequests::Outcome PageRequests::MSComm1_OnComm()
{
    const int event = comm_.CommEvent();
    if (event == comEventDeviceGone) {
        partial_.clear();
        return Outcome::DeviceGone;
    }
    // Line errors, modem-line changes and send events do not concern the
    // upload: the device simply asks again.
    if (event != comEvReceive)
        return Outcome::Ignored;

    // Right after the user opens the port a notification comes after two
    // characters; keep them and complete the request with the next ones.
    partial_ += comm_.Input();
    if (partial_.size() < static_cast<std::size_t>(RequestLength))
        return Outcome::Incomplete;

    // The component hands over one character per byte, its code being the
    // byte's value (a byte with a wrong parity bit arrives as '?', 63). Bytes
    // of 0x80 and above thus exceed both limits and are never a page.
    const int c2 = static_cast<unsigned char>(partial_[2]);
    const int c3 = static_cast<unsigned char>(partial_[3]);
    // Whatever follows the first request in the same notification is dropped.
    partial_.clear();
    if (c3 > MaxSecondAddend || c2 > MaxFirstAddend)
        return Outcome::Ignored;

    state_.PageNumber = static_cast<std::uint8_t>(c2 + c3);
    timer_.setInterval(static_cast<int>(RequestToPageDelay.count()));
    timer_.setEnabled(true);
    return Outcome::Armed;
}

} // namespace isp
