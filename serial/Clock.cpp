#include "serial/Clock.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

namespace isp {

#ifdef _WIN32
namespace {

// Not in every MinGW-w64's headers (Windows 10, version 1803).
constexpr DWORD HighResolutionTimer = 0x2;

// std::this_thread::sleep_for sleeps in whole system timer ticks on
// Windows (15.6 ms unless timeBeginPeriod lowered it); a waitable timer of
// high resolution wakes within about a millisecond.
void sleepOnTimer(Clock::Duration duration)
{
    struct ThreadTimer {
        HANDLE handle = makePreciseTimer();
        ~ThreadTimer()
        {
            if (handle)
                ::CloseHandle(handle);
        }
    };
    thread_local ThreadTimer timer;
    if (!timer.handle) {
        ::Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(duration).count()));
        return;
    }
    armPreciseTimer(timer.handle, duration);
    ::WaitForSingleObject(timer.handle, INFINITE);
}

} // namespace

void* makePreciseTimer()
{
    HANDLE timer = ::CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET | HighResolutionTimer, TIMER_ALL_ACCESS);
    if (!timer)
        timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET, TIMER_ALL_ACCESS);
    return timer;
}

void armPreciseTimer(void* timer, Clock::Duration delay)
{
    // Negative: relative, in units of 100 ns; at least one unit.
    LARGE_INTEGER due;
    due.QuadPart = -std::max<LONGLONG>(delay.count() / 100, 1);
    ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
}
#endif

Clock::TimePoint SteadyClock::now()
{
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

void SteadyClock::sleepUntil(TimePoint when)
{
    const Duration left = when - now();
    if (left > WakeUpLatency) {
#ifdef _WIN32
        sleepOnTimer(left - WakeUpLatency);
#else
        std::this_thread::sleep_for(left - WakeUpLatency);
#endif
    }
    while (now() < when) {}
}

void SteadyClock::doze(Duration duration)
{
    if (duration <= Duration::zero())
        return;
#ifdef _WIN32
    sleepOnTimer(duration);
#else
    std::this_thread::sleep_for(duration);
#endif
}

SteadyClock& SteadyClock::instance()
{
    static SteadyClock clock;
    return clock;
}

} // namespace isp
