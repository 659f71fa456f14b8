#pragma once

#include "serial/Clock.h"
#include "serial/SerialComponent.h"
#include "transfer/ProgressDisplay.h"
#include "transfer/SharedState.h"
#include "transfer/Timer.h"

#include <cstdint>
#include <span>

// The tick of Timer1, armed 20 ms after the device asked for a page: sends
// that page as a space-parity header and a mark-parity frame, moves the
// progress bar and returns to idle. The only place image bytes leave.
namespace isp {

class PageSender {
public:
    PageSender(SharedState& state, SerialComponent& comm, Timer& timer, ProgressDisplay& progress, Clock& clock);

    struct Result {
        enum class Outcome {
            Sent,    // the page left; PageNumber is idle again
            Skipped, // nothing pending, port closed or no image: nothing sent
            Failed,  // the line failed part-way; the port is closed, see failure
        };
        Outcome outcome = Outcome::Skipped;
        int page = -1;      // the page sent or being sent, for Sent and Failed
        CommResult failure; // for Failed
    };

    Result Timer1_Timer();

private:
    // Closes the port if open and opens it again with the given line
    // settings, ready for the device's next request.
    CommResult reopenWith(const char* settings);
    // Queues the bytes and waits, handling no event, until they have left.
    CommResult sendBurst(std::span<const std::uint8_t> bytes);
    Result fail(int page, CommResult failure);

    SharedState& state_;
    SerialComponent& comm_;
    Timer& timer_;
    ProgressDisplay& progress_;
    Clock& clock_;
};

} // namespace isp
