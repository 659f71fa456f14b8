// The Windows event loop and clock on the system's own calls (run under
// Wine here): the event loop seam's promises, with event objects for watches.
#include "serial/windows/WinEventLoop.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

using namespace isp;
using namespace std::chrono_literals;

namespace {

// A manual-reset event object, as the serial line's reads and writes use.
struct Event {
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() { ::CloseHandle(handle); }
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
};

} // namespace

TEST(WinEventLoop, TimedTasksAndTheClocksSleepsAreNeverEarly)
{
    WinEventLoop loop;
    Clock& clock = loop.clock();
    std::vector<Clock::Duration> tasksLate;
    std::vector<Clock::Duration> sleepsLate;
    for (int round = 0; round < 20; ++round) {
        const auto due = clock.now() + 20ms;
        loop.runAt(due, [&, due] { tasksLate.push_back(clock.now() - due); });
        const auto cancelled = loop.runAt(due, [] { ADD_FAILURE() << "a cancelled task ran"; });
        loop.cancel(cancelled);
        ASSERT_TRUE(loop.runUntil([&] { return tasksLate.size() == static_cast<std::size_t>(round + 1); }, 5s));

        // The 10 ms pause after a page.
        const auto start = clock.now();
        clock.sleepFor(10ms);
        sleepsLate.push_back(clock.now() - start - 10ms);
    }
    for (const auto late : tasksLate)
        EXPECT_GE(late, Clock::Duration::zero());
    for (const auto late : sleepsLate)
        EXPECT_GE(late, Clock::Duration::zero());
}

TEST(WinEventLoop, AWatchRunsWhileItsEventIsSignalledAndNotAfterItIsRemoved)
{
    WinEventLoop loop;
    Event event;
    int calls = 0;
    EventLoop::Id id = 0;
    id = loop.watch(event.handle, EventLoop::Interest::Read, [&] {
        ++calls;
        if (calls == 3)
            loop.unwatch(id);
    });
    loop.runFor(20ms);
    EXPECT_EQ(calls, 0);
    // Level-triggered: called again and again until the task resets it
    // (here: until it removes itself).
    ::SetEvent(event.handle);
    ASSERT_TRUE(loop.runUntil([&] { return calls == 3; }, 5s));
    loop.runFor(20ms);
    EXPECT_EQ(calls, 3);
}

TEST(WinEventLoop, ANestedLoopStillServesWatchesAndTimers)
{
    // A task that runs a loop of its own (a message the user must answer)
    // shares the loop's timer with the loop it runs in.
    WinEventLoop loop;
    Event event;
    bool read = false;
    bool ticked = false;
    const auto watch = loop.watch(event.handle, EventLoop::Interest::Read, [&] {
        ::ResetEvent(event.handle);
        read = true;
    });
    bool nestedDone = false;
    loop.post([&] {
        ::SetEvent(event.handle);
        loop.runAt(loop.clock().now() + 10ms, [&] { ticked = true; });
        nestedDone = loop.runUntil([&] { return read && ticked; }, 5s);
    });
    ASSERT_TRUE(loop.runUntil([&] { return nestedDone; }, 10s));
    loop.unwatch(watch);
}

TEST(WinEventLoop, AnIdleLoopSleeps)
{
    // A loop that spun would wake thousands of times.
    WinEventLoop loop;
    Event idle;
    const auto watch = loop.watch(idle.handle, EventLoop::Interest::Read, [] {});
    loop.runAt(loop.clock().now() + 100ms, [] {});
    loop.runFor(300ms);
    EXPECT_LT(loop.wakeUps(), 20u);
    loop.unwatch(watch);
}
