#include "serial/ThreadSleep.h"

#include "serial/windows/PreciseTimer.h"

#include <windows.h>

namespace isp {
namespace {

struct ThreadTimer {
    HANDLE handle = makePreciseTimer();
    ThreadTimer() = default;
    ~ThreadTimer()
    {
        if (handle)
            ::CloseHandle(handle);
    }
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;
};

} // namespace

void sleepThread(Clock::Duration duration)
{
    // std::this_thread::sleep_for sleeps in whole system timer ticks on
    // Windows (15.6 ms unless timeBeginPeriod lowered it); a waitable timer
    // of high resolution wakes within about a millisecond.
    thread_local ThreadTimer timer;
    if (!timer.handle) {
        ::Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(duration).count()));
        return;
    }
    armPreciseTimer(timer.handle, duration);
    ::WaitForSingleObject(timer.handle, INFINITE);
}

Clock::Duration threadWakeUpLatency()
{
    // High resolution timers wake a thread up to about a millisecond late.
    return std::chrono::milliseconds(1);
}

} // namespace isp
