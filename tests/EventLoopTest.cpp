// The promises of the event loop seam, kept by the plain loop of the command
// line and by the window's adapter of Qt's loop alike (the suite is
// tests/support/EventLoopContract.h); and Timer1 on a loop.
#include "app/widgets/QtEventLoop.h"
#include "serial/posix/PollEventLoop.h"
#include "serial/sim/SimulatedScheduler.h"
#include "tests/support/EventLoopContract.h"
#include "tests/support/QtRun.h"
#include "transfer/LoopTimer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <vector>

using namespace isp;
using namespace std::chrono_literals;

namespace {

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
    NativeHandle handle() const { return fds[0]; }
    void raise() { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
    void lower()
    {
        char c = 0;
        EXPECT_EQ(::read(fds[0], &c, 1), 1);
    }
    int fds[2] = {-1, -1};
};

using PollLoop = test::MainLoopUnderTest<PollEventLoop, Pipe>;

struct QtLoop {
    using Signal = Pipe;
    QtLoop() { test::ensureCoreApplication(); }
    QtEventLoop loop;
    EventLoop& seam() { return loop; }
    void runFor(Clock::Duration d) { test::runFor(std::chrono::ceil<std::chrono::milliseconds>(d)); }
    bool runUntil(const std::function<bool()>& done, Clock::Duration limit)
    {
        return test::runUntil(done, std::chrono::ceil<std::chrono::milliseconds>(limit));
    }
};

using Loops = ::testing::Types<PollLoop, QtLoop>;

} // namespace

namespace isp::test {
INSTANTIATE_TYPED_TEST_SUITE_P(Linux, EventLoopContract, Loops);
} // namespace isp::test

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
