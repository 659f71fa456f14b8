#pragma once

#include "serial/windows/HandleWaitLoop.h"

#include <windows.h>

#include <functional>

// The core's event loop in the Win32 window: one thread waits at once for
// window messages, the serial line's event objects and a precise timer
// (MsgWaitForMultipleObjectsEx), dispatches the messages, runs the watches
// found signalled and the tasks that are due. It keeps every promise of
// EventLoop; a timed task wakes it shortly before its time and the rest is
// waited out on the clock, so Timer1 is never early.
//
// A modal loop of the system's own (the file dialog, a window being dragged
// or sized, a window's menu) dispatches window messages but never returns
// here. While one runs, a window timer of this loop polls the handles and
// runs due tasks instead (SystemModalLoop), so the upload goes on, each step
// up to a timer period (10 ms or so) late; our own modal loops (the message
// window) run this loop itself and lose nothing.
namespace isp {

class GuiEventLoop final : public windows::HandleWaitLoop {
public:
    // MsgWaitForMultipleObjectsEx takes 63 handles; one is the timer.
    static constexpr std::size_t MaxWatches = 62;

    explicit GuiEventLoop(Clock& clock = SteadyClock::instance());
    ~GuiEventLoop() override;

    void runOnce(Clock::Duration limit) override;

    // Looks at each message before it is dispatched; true when it took the
    // message (the windows move the focus on Tab this way).
    using MessageFilter = std::function<bool(MSG&)>;
    void setMessageFilter(MessageFilter filter) { filter_ = std::move(filter); }

    // Once WM_QUIT arrived: every loop, nested or not, should return.
    bool quitting() const { return quitting_; }
    int exitCode() const { return exitCode_; }
    // Runs until WM_QUIT; returns its exit code.
    int run();

    // While a system modal loop runs: entered when it starts, left when it
    // ends; nests.
    void enterSystemModalLoop();
    void leaveSystemModalLoop();
    class SystemModalLoop {
    public:
        explicit SystemModalLoop(GuiEventLoop& loop) : loop_(loop) { loop_.enterSystemModalLoop(); }
        ~SystemModalLoop() { loop_.leaveSystemModalLoop(); }
        SystemModalLoop(const SystemModalLoop&) = delete;
        SystemModalLoop& operator=(const SystemModalLoop&) = delete;

    private:
        GuiEventLoop& loop_;
    };

    // Times the system's modal loops let the timer poll, so far.
    std::uint64_t polls() const { return polls_; }

private:
    void dispatchMessages();
    static LRESULT CALLBACK pollWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND pollWindow_ = nullptr; // message-only, for the poll timer
    int systemModalLoops_ = 0;
    MessageFilter filter_;
    bool quitting_ = false;
    int exitCode_ = 0;
    std::uint64_t polls_ = 0;
};

} // namespace isp
