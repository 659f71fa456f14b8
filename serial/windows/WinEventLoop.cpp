#include "serial/windows/WinEventLoop.h"

#include "serial/windows/HandleWait.h"
#include "serial/windows/PreciseTimer.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

namespace isp {

WinEventLoop::WinEventLoop(Clock& clock) : clock_(clock), timer_(makePreciseTimer()) {}

WinEventLoop::~WinEventLoop()
{
    if (timer_)
        ::CloseHandle(timer_);
}

EventLoop::Id WinEventLoop::watch(NativeHandle handle, Interest /*interest*/, Task ready)
{
    if (watches_.size() >= MaxWatches)
        throw std::length_error("too many watches for WaitForMultipleObjects");
    return watches_.add(handle, std::move(ready));
}

void WinEventLoop::runOnce(Clock::Duration limit)
{
    const Clock::TimePoint start = clock_.now();
    Clock::TimePoint wakeAt = start + limit;
    if (const auto wake = tasks_.wakeUpTime())
        wakeAt = std::min(wakeAt, *wake);

    windows::HandleSet set = windows::handlesOf(watches_);
    const Clock::Duration wait = wakeAt - start;
    DWORD timeout = 0;
    if (wait > Clock::Duration::zero()) {
        if (timer_) {
            armPreciseTimer(timer_, wait);
            set.handles.push_back(timer_);
            timeout = INFINITE;
        } else {
            timeout = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        }
    }
    const DWORD woke = set.handles.empty()
        ? (::Sleep(timeout), WAIT_TIMEOUT)
        : ::WaitForMultipleObjects(static_cast<DWORD>(set.handles.size()), set.handles.data(), FALSE, timeout);
    ++wakeUps_;
    const bool ran = windows::runSignalled(watches_, set, woke);
    // A handle the system refuses and no owner to act on it: do not spin.
    if (woke == WAIT_FAILED && !ran)
        clock_.doze(std::min(wait, Clock::Duration(std::chrono::milliseconds(1))));

    tasks_.runDueOnTime(clock_);
}

} // namespace isp
