#pragma once

#include <chrono>

// Time as the program sees it. The page sender and the serial component poll
// and sleep through this seam so that the simulated line of the tests can run
// on simulated time.
namespace isp {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    // Blocks the calling thread until `when`, never returning sooner; no
    // events are handled meanwhile.
    virtual void sleepUntil(TimePoint when) = 0;
    void sleepFor(Duration duration) { sleepUntil(now() + duration); }
    // Sleeps about this long, perhaps a little longer, without keeping the
    // processor busy: for polling, where being late by a tenth of a
    // millisecond does not matter and spinning would.
    virtual void doze(Duration duration) = 0;
};

// The real monotonic clock.
class SteadyClock final : public Clock {
public:
    TimePoint now() override;
    // Sleeps until shortly before `when`, then waits out the rest on the
    // clock: the kernel wakes a sleeping thread 50 to 100 us late on a busy or
    // virtual machine, and the pages' timing is counted in tenths of a
    // millisecond.
    void sleepUntil(TimePoint when) override;
    void doze(Duration duration) override;

    // How much sooner than its due time an event loop wakes, so that it can
    // wait out the rest with sleepUntil and be on time: as late as this
    // system wakes a sleeping thread (serial/ThreadSleep.h).
    static Duration wakeUpLatency();

    static SteadyClock& instance();
};

} // namespace isp
