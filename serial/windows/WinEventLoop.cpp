#include "serial/windows/WinEventLoop.h"

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

    std::vector<HANDLE> handles;
    std::vector<Id> ids;
    handles.reserve(watches_.size() + 1);
    for (const auto& w : watches_.all()) {
        handles.push_back(w.target);
        ids.push_back(w.id);
    }
    const Clock::Duration wait = wakeAt - start;
    DWORD timeout = 0;
    if (wait > Clock::Duration::zero()) {
        if (timer_) {
            armPreciseTimer(timer_, wait);
            handles.push_back(timer_);
            timeout = INFINITE;
        } else {
            timeout = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        }
    }
    const DWORD woke = handles.empty()
        ? (::Sleep(timeout), WAIT_TIMEOUT)
        : ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    ++wakeUps_;
    if (woke < WAIT_OBJECT_0 + ids.size() || woke == WAIT_FAILED) {
        // The lowest signalled index woke the loop; the later ones may be
        // signalled too. (After WAIT_FAILED, a handle that is no longer
        // valid makes its owner look.)
        const std::size_t first = woke == WAIT_FAILED ? 0 : woke - WAIT_OBJECT_0;
        bool ran = false;
        for (std::size_t i = first; i < ids.size(); ++i) {
            if (i != first || woke == WAIT_FAILED) {
                const DWORD state = ::WaitForSingleObject(handles[i], 0);
                if (state != WAIT_OBJECT_0 && state != WAIT_FAILED)
                    continue;
            }
            if (watches_.run(ids[i]))
                ran = true;
        }
        // A handle the system refuses and no owner to act on it: do not spin.
        if (woke == WAIT_FAILED && !ran)
            clock_.doze(std::min(wait, Clock::Duration(std::chrono::milliseconds(1))));
    }

    tasks_.runDueOnTime(clock_);
}

} // namespace isp
