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
    // wait out the rest with sleepUntil and be on time. Windows' high
    // resolution timers wake a thread up to about a millisecond late.
#ifdef _WIN32
    static constexpr Duration WakeUpLatency = std::chrono::milliseconds(1);
#else
    static constexpr Duration WakeUpLatency = std::chrono::microseconds(200);
#endif

    static SteadyClock& instance();
};

#ifdef _WIN32
// A manual-reset waitable timer that wakes as precisely as the system can
// (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION where there is one; otherwise at
// the system timer's resolution, 1 ms after timeBeginPeriod(1)), or null.
// SteadyClock sleeps on one per thread; the Windows event loop waits on one.
void* makePreciseTimer();
// Sets the timer to go off `delay` from now.
void armPreciseTimer(void* timer, Clock::Duration delay);
#endif

} // namespace isp
