#pragma once

#include "serial/MainLoop.h"
#include "serial/TaskQueue.h"
#include "serial/WatchList.h"

#include <chrono>
#include <functional>
#include <vector>

// A plain event loop on poll(), for programs without a window and for tests
// of the core without Qt. It sleeps in ppoll() with nanosecond time-outs,
// wakes shortly before a timed task is due and waits out the rest on the
// clock, so a timed task is on time to a few microseconds and never early.
namespace isp {

class PollEventLoop final : public MainLoop {
public:
    explicit PollEventLoop(Clock& clock = SteadyClock::instance()) : clock_(clock) {}

    Clock& clock() override { return clock_; }
    Id post(Task task) override { return tasks_.add(clock_.now(), std::move(task)); }
    Id runAt(Clock::TimePoint when, Task task) override { return tasks_.add(when, std::move(task)); }
    void cancel(Id id) override { tasks_.cancel(id); }
    Id watch(NativeHandle handle, Interest interest, Task ready) override
    {
        return watches_.add({handle, interest}, std::move(ready));
    }
    void unwatch(Id id) override { watches_.remove(id); }

    void runOnce(Clock::Duration limit) override;
    std::uint64_t wakeUps() const override { return wakeUps_; }

private:
    struct Target {
        int fd;
        Interest interest;
    };

    Clock& clock_;
    TaskQueue tasks_;
    WatchList<Target> watches_;
    std::uint64_t wakeUps_ = 0;
};

} // namespace isp
