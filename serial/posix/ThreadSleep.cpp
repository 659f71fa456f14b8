#include "serial/ThreadSleep.h"

#include <thread>

namespace isp {

void sleepThread(Clock::Duration duration)
{
    std::this_thread::sleep_for(duration);
}

Clock::Duration threadWakeUpLatency()
{
    // The kernel wakes a sleeping thread 50 to 100 us late on a busy or
    // virtual machine (with the timer slack at 1 ns, see
    // tuneProcessForTiming).
    return std::chrono::microseconds(200);
}

} // namespace isp
