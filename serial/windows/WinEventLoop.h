#pragma once

#include "serial/MainLoop.h"
#include "serial/TaskQueue.h"
#include "serial/WatchList.h"

#include <vector>

// A plain event loop on WaitForMultipleObjects, for the command line on
// Windows. It waits on the watched event objects and on a waitable timer
// (high resolution where the system has one), wakes shortly before a timed
// task is due and waits out the rest on the clock, so a timed task is never
// early. A watch's task runs each time its event object is found signalled;
// the task resets it or starts the next operation on it.
//
// WaitForMultipleObjects takes at most 64 handles, one of them the timer:
// at most 63 watches at a time (the serial line needs two).
namespace isp {

class WinEventLoop final : public MainLoop {
public:
    static constexpr std::size_t MaxWatches = 63; // and the timer: 64 handles

    explicit WinEventLoop(Clock& clock = SteadyClock::instance());
    ~WinEventLoop() override;
    WinEventLoop(const WinEventLoop&) = delete;
    WinEventLoop& operator=(const WinEventLoop&) = delete;

    Clock& clock() override { return clock_; }
    Id post(Task task) override { return tasks_.add(clock_.now(), std::move(task)); }
    Id runAt(Clock::TimePoint when, Task task) override { return tasks_.add(when, std::move(task)); }
    void cancel(Id id) override { tasks_.cancel(id); }
    // Throws std::length_error beyond MaxWatches.
    Id watch(NativeHandle handle, Interest interest, Task ready) override;
    void unwatch(Id id) override { watches_.remove(id); }

    void runOnce(Clock::Duration limit) override;
    std::uint64_t wakeUps() const override { return wakeUps_; }

private:
    Clock& clock_;
    TaskQueue tasks_;
    WatchList<NativeHandle> watches_;
    NativeHandle timer_ = nullptr;
    std::uint64_t wakeUps_ = 0;
};

} // namespace isp
