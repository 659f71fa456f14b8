#include "serial/Clock.h"

#include <thread>

namespace isp {
namespace {

constexpr Clock::Duration WakeUpLatency = std::chrono::microseconds(200);

} // namespace

Clock::TimePoint SteadyClock::now()
{
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

void SteadyClock::sleepFor(Duration duration)
{
    // The kernel wakes a sleeping thread 50 to 100 us late on a busy or
    // virtual machine; the page sender pauses after every page, so sleep
    // short and wait out the rest on the clock.
    const TimePoint end = now() + duration;
    if (duration > WakeUpLatency)
        std::this_thread::sleep_for(duration - WakeUpLatency);
    while (now() < end) {}
}

SteadyClock& SteadyClock::instance()
{
    static SteadyClock clock;
    return clock;
}

} // namespace isp
