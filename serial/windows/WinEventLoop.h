#pragma once

#include "serial/windows/HandleWaitLoop.h"

// A plain event loop on WaitForMultipleObjects, for the command line on
// Windows. It waits on the watched event objects and on a waitable timer
// (high resolution where the system has one), wakes shortly before a timed
// task is due and waits out the rest on the clock, so a timed task is never
// early. A watch's task runs each time its event object is found signalled;
// the task resets it or starts the next operation on it.
//
// WaitForMultipleObjects takes at most 64 handles, one of them the timer:
// at most 63 watches at a time (the serial line needs two).
namespace isp {

class WinEventLoop final : public windows::HandleWaitLoop {
public:
    static constexpr std::size_t MaxWatches = 63;

    explicit WinEventLoop(Clock& clock = SteadyClock::instance()) : HandleWaitLoop(clock, MaxWatches) {}

    void runOnce(Clock::Duration limit) override;
};

} // namespace isp
