#pragma once

#include "serial/EventLoop.h"

#include <cstdint>
#include <functional>

// An event loop that a program without a window runs itself: the command
// line, and the tests of the core. Each platform has one (serial/Platform.h).
namespace isp {

class MainLoop : public EventLoop {
public:
    // Waits for the next events, no longer than `limit`, and handles them.
    virtual void runOnce(Clock::Duration limit) = 0;

    // Times the loop woke up so far: a handful a second when idle, thousands
    // when something keeps it busy.
    virtual std::uint64_t wakeUps() const = 0;

    // Runs until `done` holds, checked after each round of events; false if
    // the limit passed first.
    bool runUntil(const std::function<bool()>& done, Clock::Duration limit)
    {
        const Clock::TimePoint end = clock().now() + limit;
        while (!done()) {
            const Clock::TimePoint now = clock().now();
            if (now >= end)
                return false;
            runOnce(end - now);
        }
        return true;
    }

    void runFor(Clock::Duration duration)
    {
        const Clock::TimePoint end = clock().now() + duration;
        for (Clock::TimePoint now = clock().now(); now < end; now = clock().now())
            runOnce(end - now);
    }
};

} // namespace isp
