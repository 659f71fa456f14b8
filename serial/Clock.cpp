#include "serial/Clock.h"

#include <thread>

namespace isp {

Clock::TimePoint SteadyClock::now()
{
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

void SteadyClock::sleepUntil(TimePoint when)
{
    const Duration left = when - now();
    if (left > WakeUpLatency)
        std::this_thread::sleep_for(left - WakeUpLatency);
    while (now() < when) {}
}

void SteadyClock::doze(Duration duration)
{
    if (duration > Duration::zero())
        std::this_thread::sleep_for(duration);
}

SteadyClock& SteadyClock::instance()
{
    static SteadyClock clock;
    return clock;
}

} // namespace isp
