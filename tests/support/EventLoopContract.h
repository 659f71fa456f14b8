#pragma once

// The promises of the event loop seam (serial/EventLoop.h), as one suite
// that every loop passes: the command line's and the windows' loops on Linux
// (tests/EventLoopTest.cpp) and on Windows, under Wine
// (tests/windows/WinEventLoopTest.cpp).
//
// A loop under test comes as a type with
//   EventLoop& seam();
//   void runFor(Clock::Duration);
//   bool runUntil(const std::function<bool()>& done, Clock::Duration limit);
//   using Signal = ...;   // something the loop can watch: NativeHandle
//                         // handle(), raise() and lower()
#include "serial/EventLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

namespace isp::test {

template <typename Loop>
class EventLoopContract : public ::testing::Test {
protected:
    Loop loop;
    EventLoop& seam() { return loop.seam(); }
    Clock::TimePoint now() { return seam().clock().now(); }
};

TYPED_TEST_SUITE_P(EventLoopContract);

TYPED_TEST_P(EventLoopContract, ATimedTaskIsNeverEarlyAndACancelledOneNeverRuns)
{
    using namespace std::chrono_literals;
    std::vector<Clock::Duration> lateness;
    for (int round = 0; round < 20; ++round) {
        const auto due = this->now() + 20ms;
        this->seam().runAt(due, [&, due] { lateness.push_back(this->now() - due); });
        const auto cancelled = this->seam().runAt(due, [] { ADD_FAILURE() << "a cancelled task ran"; });
        this->seam().cancel(cancelled);
        ASSERT_TRUE(this->loop.runUntil([&] { return lateness.size() == static_cast<std::size_t>(round + 1); }, 5s));
    }
    for (const auto late : lateness)
        EXPECT_GE(late, Clock::Duration::zero());
}

TYPED_TEST_P(EventLoopContract, PostedTasksRunInOrderAfterTheTaskThatPostedThem)
{
    using namespace std::chrono_literals;
    std::vector<int> order;
    this->seam().post([&] {
        order.push_back(1);
        this->seam().post([&] { order.push_back(3); });
        order.push_back(2);
    });
    this->seam().post([&] { order.push_back(4); });
    ASSERT_TRUE(this->loop.runUntil([&] { return order.size() == 4; }, 5s));
    // The task posted from inside the first comes after the one posted before it.
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));
}

TYPED_TEST_P(EventLoopContract, AWatchCallsUntilRemovedEvenFromItsOwnHandler)
{
    using namespace std::chrono_literals;
    typename TypeParam::Signal signal;
    int calls = 0;
    EventLoop::Id id = 0;
    id = this->seam().watch(signal.handle(), EventLoop::Interest::Read, [&] {
        signal.lower();
        if (++calls == 2)
            this->seam().unwatch(id);
    });
    this->loop.runFor(20ms);
    EXPECT_EQ(calls, 0) << "a watch ran with nothing to read";
    signal.raise();
    ASSERT_TRUE(this->loop.runUntil([&] { return calls == 1; }, 5s));
    signal.raise();
    ASSERT_TRUE(this->loop.runUntil([&] { return calls == 2; }, 5s));
    signal.raise();
    this->loop.runFor(50ms);
    EXPECT_EQ(calls, 2) << "a removed watch was called";
}

TYPED_TEST_P(EventLoopContract, ATaskRunningANestedLoopStillGetsWatchesAndTimedTasks)
{
    // A handler that shows a modal window runs a nested loop: the upload's
    // input and Timer1 must go on meanwhile.
    using namespace std::chrono_literals;
    typename TypeParam::Signal signal;
    bool read = false;
    bool ticked = false;
    const auto watch = this->seam().watch(signal.handle(), EventLoop::Interest::Read, [&] {
        signal.lower();
        read = true;
    });
    bool nestedDone = false;
    this->seam().post([&] {
        signal.raise();
        this->seam().runAt(this->now() + 10ms, [&] { ticked = true; });
        nestedDone = this->loop.runUntil([&] { return read && ticked; }, 5s);
    });
    ASSERT_TRUE(this->loop.runUntil([&] { return nestedDone; }, 10s));
    this->seam().unwatch(watch);
}

REGISTER_TYPED_TEST_SUITE_P(EventLoopContract, ATimedTaskIsNeverEarlyAndACancelledOneNeverRuns,
    PostedTasksRunInOrderAfterTheTaskThatPostedThem, AWatchCallsUntilRemovedEvenFromItsOwnHandler,
    ATaskRunningANestedLoopStillGetsWatchesAndTimedTasks);

// For a loop that a program runs itself (MainLoop): the fixture of the suite.
template <typename MainLoopType, typename SignalType>
struct MainLoopUnderTest {
    using Signal = SignalType;
    MainLoopType loop;
    EventLoop& seam() { return loop; }
    void runFor(Clock::Duration d) { loop.runFor(d); }
    bool runUntil(const std::function<bool()>& done, Clock::Duration limit) { return loop.runUntil(done, limit); }
};

} // namespace isp::test
