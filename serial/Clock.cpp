#include "Clock.h"

#include <thread>

namespace isp {

Clock::TimePoint SteadyClock::now()
{
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

void SteadyClock::sleepFor(Duration duration)
{
    std::this_thread::sleep_for(duration);
}

SteadyClock& SteadyClock::instance()
{
    static SteadyClock clock;
    return clock;
}

} // namespace isp
