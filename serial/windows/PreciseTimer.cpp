#include "serial/windows/PreciseTimer.h"

#include <windows.h>

#include <algorithm>

namespace isp {
namespace {

// Not in every MinGW-w64's headers (Windows 10, version 1803).
constexpr DWORD HighResolutionTimer = 0x2;

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

} // namespace isp
