// The Windows event loops and clock on the system's own calls (run under
// Wine here): the command line's loop and the window's keep the event loop
// seam's promises (tests/support/EventLoopContract.h), with event objects
// for watches; both sleep when idle; the window's goes on under a modal loop
// of the system's.
#include "serial/windows/WinEventLoop.h"
#include "app/win32/GuiEventLoop.h"
#include "tests/support/EventLoopContract.h"

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

struct Signal : Event {
    NativeHandle handle() const { return Event::handle; }
    void raise() { ::SetEvent(Event::handle); }
    void lower() { ::ResetEvent(Event::handle); }
};

using Loops =
    ::testing::Types<test::MainLoopUnderTest<WinEventLoop, Signal>, test::MainLoopUnderTest<GuiEventLoop, Signal>>;

template <typename Loop>
class WindowsLoop : public ::testing::Test {
};
using LoopTypes = ::testing::Types<WinEventLoop, GuiEventLoop>;
TYPED_TEST_SUITE(WindowsLoop, LoopTypes);

} // namespace

namespace isp::test {
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, EventLoopContract, Loops);
} // namespace isp::test

TEST(WinClock, SleepsAreNeverShort)
{
    // The 10 ms pause after a page, on the precise timer.
    Clock& clock = SteadyClock::instance();
    for (int round = 0; round < 20; ++round) {
        const auto start = clock.now();
        clock.sleepFor(10ms);
        EXPECT_GE(clock.now() - start, 10ms);
    }
}

TYPED_TEST(WindowsLoop, AnIdleLoopSleeps)
{
    // A loop that spun would wake thousands of times.
    TypeParam loop;
    Event idle;
    const auto watch = loop.watch(idle.handle, EventLoop::Interest::Read, [] {});
    loop.runAt(loop.clock().now() + 100ms, [] {});
    loop.runFor(300ms);
    EXPECT_LT(loop.wakeUps(), 20u);
    loop.unwatch(watch);
}

TEST(GuiEventLoop, WatchesAndTimedTasksGoOnUnderTheSystemsOwnModalLoop)
{
    // The system's modal loops (the file dialog, dragging a window) pump
    // window messages and never return to ours: here a plain message loop
    // stands in for them, with the loop told it runs.
    GuiEventLoop loop;
    Event event;
    bool read = false;
    bool ticked = false;
    bool servedInside = false;
    const auto watch = loop.watch(event.handle, EventLoop::Interest::Read, [&] {
        ::ResetEvent(event.handle);
        read = true;
    });
    bool modalEnded = false;
    loop.post([&] {
        const GuiEventLoop::SystemModalLoop modal(loop);
        ::SetEvent(event.handle);
        loop.runAt(loop.clock().now() + 20ms, [&] { ticked = true; });
        const auto end = loop.clock().now() + 5s;
        MSG message;
        while (!(read && ticked) && loop.clock().now() < end) {
            if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) {
                while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                    ::DispatchMessageW(&message);
            }
        }
        servedInside = read && ticked;
        modalEnded = true;
    });
    ASSERT_TRUE(loop.runUntil([&] { return modalEnded; }, 10s));
    EXPECT_TRUE(servedInside) << "the watch or the timed task waited for the modal loop to end";
    loop.unwatch(watch);

    // Once it ended, the timer polls no more.
    const auto polls = loop.polls();
    loop.runFor(100ms);
    EXPECT_EQ(loop.polls(), polls);
}
