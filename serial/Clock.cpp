#include "serial/Clock.h"

#include "serial/ThreadSleep.h"

namespace isp {

Clock::TimePoint SteadyClock::now()
{
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

void SteadyClock::sleepUntil(TimePoint when)
{
    const Duration left = when - now();
    if (left > wakeUpLatency())
        sleepThread(left - wakeUpLatency());
    while (now() < when) {}
}

void SteadyClock::doze(Duration duration)
{
    if (duration > Duration::zero())
        sleepThread(duration);
}

Clock::Duration SteadyClock::wakeUpLatency()
{
    return threadWakeUpLatency();
}

SteadyClock& SteadyClock::instance()
{
    static SteadyClock clock;
    return clock;
}

} // namespace isp
