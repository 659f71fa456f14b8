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

    struct Outcome {
        enum class Kind {
            NotReceive,  // a line, modem or send event: nothing to read
            Incomplete,  // fewer than four characters wait; left for the next
            OutOfLimits, // c2 or c3 beyond what the boot loader sends: ignored
            Armed,       // PageNumber set and Timer1 armed
            DeviceGone,  // the component lost the device and closed the port
        };
        Kind kind = Kind::NotReceive;
        std::string request; // the characters read, for Armed and OutOfLimits
    };

    Outcome MSComm1_OnComm();

private:
    SharedState& state_;
    SerialComponent& comm_;
    Timer& timer_;
};

} // namespace isp
