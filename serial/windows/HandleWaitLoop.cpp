#include "serial/windows/HandleWaitLoop.h"

#include "serial/windows/PreciseTimer.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

namespace isp::windows {

HandleWaitLoop::HandleWaitLoop(Clock& clock, std::size_t maxWatches)
    : clock_(clock), maxWatches_(maxWatches), timer_(makePreciseTimer())
{
}

HandleWaitLoop::~HandleWaitLoop()
{
    if (timer_)
        ::CloseHandle(timer_);
}

EventLoop::Id HandleWaitLoop::watch(NativeHandle handle, Interest /*interest*/, Task ready)
{
    if (watches_.size() >= maxWatches_)
        throw std::length_error("too many watches for one wait on handles");
    return watches_.add(handle, std::move(ready));
}

HandleWaitLoop::Wait HandleWaitLoop::prepareWait(Clock::Duration limit)
{
    const Clock::TimePoint start = clock_.now();
    Clock::TimePoint wakeAt = start + limit;
    if (const auto wake = tasks_.wakeUpTime())
        wakeAt = std::min(wakeAt, *wake);

    Wait wait{handlesOf(watches_), 0, wakeAt - start};
    if (wait.wait > Clock::Duration::zero()) {
        if (timer_) {
            armPreciseTimer(timer_, wait.wait);
            wait.set.handles.push_back(timer_);
            wait.timeout = INFINITE;
        } else {
            wait.timeout = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait.wait).count());
        }
    }
    return wait;
}

void HandleWaitLoop::finishWait(const Wait& wait, unsigned long woke)
{
    ++wakeUps_;
    const bool ran = runSignalled(watches_, wait.set, woke);
    if (woke == WAIT_FAILED && !ran)
        clock_.doze(std::min(wait.wait, Clock::Duration(std::chrono::milliseconds(1))));
    tasks_.runDueOnTime(clock_);
}

void HandleWaitLoop::runReady()
{
    const HandleSet set = handlesOf(watches_);
    if (!set.handles.empty()) {
        const DWORD woke =
            ::WaitForMultipleObjects(static_cast<DWORD>(set.handles.size()), set.handles.data(), FALSE, 0);
        runSignalled(watches_, set, woke);
    }
    tasks_.runDue(clock_.now());
}

} // namespace isp::windows
