#pragma once

#include "serial/SerialComponent.h"
#include "transfer/SharedState.h"
#include "transfer/Timer.h"

#include <string>

// The notifications of MSComm1: the boot loader, whenever it is ready for a
// page, sends a request of four characters c0 c1 c2 c3 naming page c2 + c3.
// A valid request replaces any pending page and arms Timer1 for 20 ms.
namespace isp {

class PageRequests {
public:
    PageRequests(SharedState& state, SerialComponent& comm, Timer& timer);

    enum class Outcome {
        Ignored,    // not a receive notification, or a request out of limits
        Incomplete, // fewer than four characters so far; kept for the next
        Armed,      // PageNumber set and Timer1 armed
        DeviceGone, // the component lost the device and closed the port
    };

    Outcome MSComm1_OnComm();

    // Drops characters kept from an incomplete request (at open and close).
    void forgetPartialRequest() { partial_.clear(); }

private:
    SharedState& state_;
    SerialComponent& comm_;
    Timer& timer_;
    std::string partial_; // never more than three characters
};

} // namespace isp
