// Timer1 on Qt's event loop: a tick never comes early, re-arming starts the
// count again, and stopping it means no tick at all.
#include "app/widgets/QtTimer.h"
#include "tests/support/QtEventLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

using namespace isp;
using namespace isp::test;
using namespace std::chrono;

namespace {

class QtTimerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureCoreApplication();
        timer.setOnTick([this] {
            ticks.push_back(steady_clock::now());
            // Like the page sender: every tick stops the timer.
            timer.setInterval(0);
            timer.setEnabled(false);
        });
    }

    QtTimer timer;
    std::vector<steady_clock::time_point> ticks;
};

} // namespace

TEST_F(QtTimerTest, ATickNeverComesSoonerThanTheInterval)
{
    for (int round = 0; round < 20; ++round) {
        const auto armed = steady_clock::now();
        timer.setInterval(20);
        timer.setEnabled(true);
        runFor(40ms);
        ASSERT_EQ(ticks.size(), static_cast<std::size_t>(round + 1));
        EXPECT_GE(ticks.back() - armed, 20ms);
        EXPECT_FALSE(timer.Enabled());
    }
}

TEST_F(QtTimerTest, ArmingAgainStartsTheCountFromNow)
{
    timer.setInterval(20);
    timer.setEnabled(true);
    runFor(10ms);
    const auto rearmed = steady_clock::now();
    timer.setInterval(20); // a second request while the first is pending
    timer.setEnabled(true);
    runFor(60ms);
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_GE(ticks.front() - rearmed, 20ms);
}

TEST_F(QtTimerTest, AStoppedTimerDoesNotTick)
{
    timer.setInterval(20);
    timer.setEnabled(true);
    timer.setEnabled(false);
    runFor(50ms);
    timer.setEnabled(true);
    timer.setInterval(0);
    runFor(50ms);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(QtTimerTest, ATimerLeftRunningByItsHandlerTicksAgain)
{
    int count = 0;
    timer.setOnTick([&] {
        if (++count == 3)
            timer.setEnabled(false);
    });
    timer.setInterval(10);
    timer.setEnabled(true);
    runFor(100ms);
    EXPECT_EQ(count, 3);
}
