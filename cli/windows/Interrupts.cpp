#include "cli/Interrupts.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

// Ctrl-C, Ctrl-Break and closing the console call a handler on a thread of
// their own; it only signals an event object, which the event loop watches.
namespace isp::cli {
namespace {

// Only one watch exists at a time: the handler finds its event here, and
// leaves what happened beside it.
std::atomic<HANDLE> interruptEvent{nullptr};
std::atomic<int> lastInterruption{static_cast<int>(ExitStatus::Interrupted)};

// How long a closing console waits for the page under way; Windows ends
// the process 5 s after the close at the latest.
constexpr DWORD CloseGraceMs = 4000;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    const HANDLE event = interruptEvent.load();
    if (!event)
        return FALSE;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        lastInterruption = static_cast<int>(ExitStatus::Interrupted);
        ::SetEvent(event);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The hang-up of Windows. The process ends when this returns: give
        // the loop time to stop after the page under way (it exits the
        // process itself then).
        lastInterruption = static_cast<int>(ExitStatus::HungUp);
        ::SetEvent(event);
        ::Sleep(CloseGraceMs);
        return TRUE;
    default: return FALSE;
    }
}

} // namespace

struct InterruptWatch::Watch {
    EventLoop& loop;
    std::function<void(ExitStatus)> interrupted;
    HANDLE event = nullptr;
    EventLoop::Id watchId = 0;
};

InterruptWatch::InterruptWatch(EventLoop& loop, std::function<void(ExitStatus)> interrupted)
    : watch_(std::make_unique<Watch>(Watch{loop, std::move(interrupted)}))
{
    watch_->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!watch_->event)
        throw std::runtime_error("no event object for the console's interruptions");
    interruptEvent = watch_->event;
    watch_->watchId = loop.watch(watch_->event, EventLoop::Interest::Read, [watch = watch_.get()] {
        ::ResetEvent(watch->event);
        watch->interrupted(static_cast<ExitStatus>(lastInterruption.load()));
    });
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    interruptEvent = nullptr;
    watch_->loop.unwatch(watch_->watchId);
    ::CloseHandle(watch_->event);
}

} // namespace isp::cli
