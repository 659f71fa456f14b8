#pragma once

#include "serial/Clock.h"

#include <cstdint>
#include <functional>

// The event loop the core runs on, as small as the core needs it: watch a
// device for input or room for output, run a task at a given time, post a
// task to run after the current one. Each front end brings its own: the
// window adapts Qt's event loop, the command line runs a plain loop of its
// own, the tests run on simulated time.
//
// Every implementation keeps these promises:
// - Tasks run on the thread that runs the loop, one at a time, each to its
//   end; never from inside one of these calls.
// - A timed task never runs sooner than its time on clock(); posted tasks and
//   due timed tasks run in the order they were due.
// - A watch calls its task each time the handle is ready (level-triggered),
//   until it is removed. On POSIX the handle is a file descriptor; on Windows
//   an event object, which the task must reset or re-arm.
// - Tasks keep running while a window shows modally (a nested loop).
// - cancel() and unwatch() may be called from any task, for any id, even one
//   that already ran or was removed; a cancelled task never runs afterwards.
namespace isp {

#ifdef _WIN32
using NativeHandle = void*;
#else
using NativeHandle = int;
#endif

class EventLoop {
public:
    using Task = std::function<void()>;
    // 0 is never an id, so it can mean "none".
    using Id = std::uint64_t;

    enum class Interest { Read, Write };

    virtual ~EventLoop() = default;

    // The clock the timed tasks are measured on.
    virtual Clock& clock() = 0;

    // Runs the task once, after the task running now has returned.
    virtual Id post(Task task) = 0;
    // Runs the task once, no sooner than `when`.
    virtual Id runAt(Clock::TimePoint when, Task task) = 0;
    // Forgets a posted or timed task that has not run yet.
    virtual void cancel(Id id) = 0;

    // Calls `ready` each time the handle is ready for `interest`.
    virtual Id watch(NativeHandle handle, Interest interest, Task ready) = 0;
    virtual void unwatch(Id id) = 0;
};

} // namespace isp
