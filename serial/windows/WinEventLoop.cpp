#include "serial/windows/WinEventLoop.h"

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
    // Watch ids count down from the top, so they never meet task ids.
    const Id id = ~Id{0} - nextWatchId_++;
    watches_.push_back({id, handle, std::move(ready)});
    return id;
}

void WinEventLoop::unwatch(Id id)
{
    std::erase_if(watches_, [id](const Watch& w) { return w.id == id; });
}

void WinEventLoop::runOnce(Clock::Duration limit)
{
    const Clock::TimePoint start = clock_.now();
    Clock::TimePoint wakeAt = start + limit;
    if (const auto due = tasks_.nextDue())
        wakeAt = std::min(wakeAt, *due - SteadyClock::WakeUpLatency);

    std::vector<HANDLE> handles;
    std::vector<Id> ids;
    handles.reserve(watches_.size() + 1);
    for (const Watch& w : watches_) {
        handles.push_back(w.handle);
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
            // An earlier handler may have removed this watch.
            const auto found =
                std::find_if(watches_.begin(), watches_.end(), [id = ids[i]](const Watch& w) { return w.id == id; });
            if (found == watches_.end())
                continue;
            Task task = found->ready; // the handler may unwatch itself
            task();
            ran = true;
        }
        // A handle the system refuses and no owner to act on it: do not spin.
        if (woke == WAIT_FAILED && !ran)
            clock_.doze(std::min(wait, Clock::Duration(std::chrono::milliseconds(1))));
    }

    // Due within the wake-up latency: wait it out, then run it on time.
    if (const auto next = tasks_.nextDue(); next && *next - clock_.now() <= SteadyClock::WakeUpLatency)
        clock_.sleepUntil(*next);
    tasks_.runDue(clock_.now());
}

} // namespace isp
