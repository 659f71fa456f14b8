// The promises of the event loop seam, kept by the plain loop of the command
// line and by the window's adapter of Qt's loop alike; and Timer1 on a loop.
#include "app/widgets/QtEventLoop.h"
#include "serial/posix/PollEventLoop.h"
#include "serial/sim/SimulatedScheduler.h"
#include "tests/support/QtRun.h"
#include "transfer/LoopTimer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <vector>

using namespace isp;
using namespace std::chrono_literals;

namespace {

struct PollLoop {
    PollEventLoop loop;
    void runFor(Clock::Duration d) { loop.runFor(d); }
    bool runUntil(const std::function<bool()>& done, Clock::Duration limit) { return loop.runUntil(done, limit); }
};

struct QtLoop {
    QtLoop() { test::ensureCoreApplication(); }
    QtEventLoop loop;
    void runFor(Clock::Duration d) { test::runFor(std::chrono::ceil<std::chrono::milliseconds>(d)); }
    bool runUntil(const std::function<bool()>& done, Clock::Duration limit)
    {
        return test::runUntil(done, std::chrono::ceil<std::chrono::milliseconds>(limit));
    }
};

// A pipe whose read end the loop watches.
struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void put() { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
    void take()
    {
        char c = 0;
        EXPECT_EQ(::read(fds[0], &c, 1), 1);
    }
    int fds[2] = {-1, -1};
};

template <typename Loop>
class EventLoopContract : public ::testing::Test {
protected:
    Loop loop;
    EventLoop& seam() { return loop.loop; }
    Clock::TimePoint now() { return seam().clock().now(); }
};

using Loops = ::testing::Types<PollLoop, QtLoop>;
TYPED_TEST_SUITE(EventLoopContract, Loops);

} // namespace

TYPED_TEST(EventLoopContract, ATimedTaskIsNeverEarlyAndACancelledOneNeverRuns)
{
    std::vector<Clock::Duration> lateness;
    for (int round = 0; round < 20; ++round) {
        const auto due = this->now() + 20ms;
        this->seam().runAt(due, [&, due] { lateness.push_back(this->now() - due); });
        const auto cancelled = this->seam().runAt(due, [&] { ADD_FAILURE() << "a cancelled task ran"; });
        this->seam().cancel(cancelled);
        ASSERT_TRUE(this->loop.runUntil([&] { return lateness.size() == static_cast<std::size_t>(round + 1); }, 5s));
    }
    for (const auto late : lateness)
        EXPECT_GE(late, Clock::Duration::zero());
}

TYPED_TEST(EventLoopContract, PostedTasksRunInOrderAfterTheTaskThatPostedThem)
{
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

TYPED_TEST(EventLoopContract, AWatchCallsUntilRemovedEvenFromItsOwnHandler)
{
    Pipe pipe;
    int calls = 0;
    EventLoop::Id id = 0;
    id = this->seam().watch(pipe.fds[0], EventLoop::Interest::Read, [&] {
        pipe.take();
        if (++calls == 2)
            this->seam().unwatch(id);
    });
    pipe.put();
    ASSERT_TRUE(this->loop.runUntil([&] { return calls == 1; }, 5s));
    pipe.put();
    ASSERT_TRUE(this->loop.runUntil([&] { return calls == 2; }, 5s));
    pipe.put();
    this->loop.runFor(50ms);
    EXPECT_EQ(calls, 2) << "a removed watch was called";
}

TYPED_TEST(EventLoopContract, ATaskRunningANestedLoopStillGetsWatchesAndTimedTasks)
{
    // A handler that shows a modal window runs a nested loop: the upload's
    // input and Timer1 must go on meanwhile.
    Pipe pipe;
    bool read = false;
    bool ticked = false;
    const auto watch = this->seam().watch(pipe.fds[0], EventLoop::Interest::Read, [&] {
        pipe.take();
        read = true;
    });
    bool nestedDone = false;
    this->seam().post([&] {
        pipe.put();
        this->seam().runAt(this->now() + 10ms, [&] { ticked = true; });
        nestedDone = this->loop.runUntil([&] { return read && ticked; }, 5s);
    });
    ASSERT_TRUE(this->loop.runUntil([&] { return nestedDone; }, 10s));
    this->seam().unwatch(watch);
}

// ---- Timer1 on a loop ----------------------------------------------------------

TEST(LoopTimer, ArmingRestartsTheCountAndStoppingMeansNoTick)
{
    SimulatedScheduler loop;
    LoopTimer timer(loop);
    std::vector<Clock::TimePoint> ticks;
    timer.setOnTick([&] {
        ticks.push_back(loop.time());
        // Like the page sender: every tick stops the timer.
        timer.setInterval(0);
        timer.setEnabled(false);
    });

    const auto start = loop.time();
    timer.setInterval(20);
    timer.setEnabled(true);
    loop.runFor(10ms);
    timer.setInterval(20); // a second request while the first is pending
    timer.setEnabled(true);
    loop.runFor(50ms);
    ASSERT_EQ(ticks.size(), 1u);
    // (Every look at the simulated clock costs it 10 us.)
    EXPECT_GE(ticks[0] - start, 30ms) << "the count starts again at the second arming";
    EXPECT_LT(ticks[0] - start, 31ms);

    timer.setInterval(20);
    timer.setEnabled(true);
    timer.setEnabled(false);
    loop.runFor(50ms);
    EXPECT_EQ(ticks.size(), 1u) << "a stopped timer ticked";

    // A handler that leaves it running gets a tick every interval.
    int repeats = 0;
    timer.setOnTick([&] { ++repeats; });
    timer.setEnabled(true);
    loop.runFor(65ms);
    EXPECT_EQ(repeats, 3);
}
