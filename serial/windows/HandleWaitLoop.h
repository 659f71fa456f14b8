#pragma once

#include "serial/MainLoop.h"
#include "serial/TaskQueue.h"
#include "serial/WatchList.h"
#include "serial/windows/HandleWait.h"

#include <cstddef>
#include <cstdint>

// What the Windows event loops share: the tasks and watches, the precise
// timer that wakes them shortly before the earliest task (the rest is
// waited out on the clock, so a timed task is never early), and what comes
// after a wait. Each loop does the wait itself: the command line's with
// WaitForMultipleObjects, the window's with MsgWaitForMultipleObjectsEx.
namespace isp::windows {

class HandleWaitLoop : public MainLoop {
public:
    ~HandleWaitLoop() override;
    HandleWaitLoop(const HandleWaitLoop&) = delete;
    HandleWaitLoop& operator=(const HandleWaitLoop&) = delete;

    Clock& clock() override { return clock_; }
    Id post(Task task) override { return tasks_.add(clock_.now(), std::move(task)); }
    Id runAt(Clock::TimePoint when, Task task) override { return tasks_.add(when, std::move(task)); }
    void cancel(Id id) override { tasks_.cancel(id); }
    // Throws std::length_error beyond the loop's most watches.
    Id watch(NativeHandle handle, Interest interest, Task ready) override;
    void unwatch(Id id) override { watches_.remove(id); }
    std::uint64_t wakeUps() const override { return wakeUps_; }

protected:
    // `maxWatches`: how many handles the loop's wait takes, less its timer.
    HandleWaitLoop(Clock& clock, std::size_t maxWatches);

    // What to wait on, and for how long (a Win32 time-out: the timer's
    // handle is among the handles when it is armed, and then INFINITE).
    struct Wait {
        HandleSet set;
        unsigned long timeout = 0;
        Clock::Duration wait{};
    };
    // Arms the timer for the earliest task, no later than `limit`.
    Wait prepareWait(Clock::Duration limit);
    // After the wait returned `woke`: the signalled watches, then the due
    // tasks. A handle the system refuses with no owner to act on it makes
    // the loop doze instead of spin.
    void finishWait(const Wait& wait, unsigned long woke);

    // Signalled watches and due tasks, without waiting.
    void runReady();

    Clock& clock_;
    TaskQueue tasks_;
    WatchList<NativeHandle> watches_;

private:
    std::size_t maxWatches_;
    void* timer_ = nullptr;
    std::uint64_t wakeUps_ = 0;
};

} // namespace isp::windows
