#include "app/win32/GuiEventLoop.h"

#include "serial/windows/HandleWait.h"
#include "serial/windows/PreciseTimer.h"

#include <algorithm>
#include <stdexcept>

namespace isp {
namespace {

constexpr wchar_t PollWindowClass[] = L"VelmoraIsp2.LoopPoll";
constexpr UINT_PTR PollTimer = 1;
// The shortest a window timer runs (Windows makes anything shorter 10 ms).
constexpr UINT PollPeriodMs = USER_TIMER_MINIMUM;
// A round of the program's own loop, when nothing is due: WM_QUIT and every
// message wake it sooner.
constexpr auto IdleRound = std::chrono::hours(1);

} // namespace

GuiEventLoop::GuiEventLoop(Clock& clock) : clock_(clock), timer_(static_cast<HANDLE>(makePreciseTimer()))
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = pollWindowProcedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = PollWindowClass;
    ::RegisterClassExW(&windowClass); // fails harmlessly when a second loop registers it again
    pollWindow_ = ::CreateWindowExW(
        0, PollWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    ::SetWindowLongPtrW(pollWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

GuiEventLoop::~GuiEventLoop()
{
    if (pollWindow_)
        ::DestroyWindow(pollWindow_);
    if (timer_)
        ::CloseHandle(timer_);
}

EventLoop::Id GuiEventLoop::watch(NativeHandle handle, Interest /*interest*/, Task ready)
{
    if (watches_.size() >= MaxWatches)
        throw std::length_error("too many watches for MsgWaitForMultipleObjectsEx");
    return watches_.add(handle, std::move(ready));
}

void GuiEventLoop::runOnce(Clock::Duration limit)
{
    const Clock::TimePoint start = clock_.now();
    Clock::TimePoint wakeAt = start + limit;
    if (const auto wake = tasks_.wakeUpTime())
        wakeAt = std::min(wakeAt, *wake);

    windows::HandleSet set = windows::handlesOf(watches_);
    const Clock::Duration wait = wakeAt - start;
    DWORD timeout = 0;
    if (wait > Clock::Duration::zero()) {
        if (timer_) {
            armPreciseTimer(timer_, wait);
            set.handles.push_back(timer_);
            timeout = INFINITE;
        } else {
            timeout = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        }
    }
    // MWMO_INPUTAVAILABLE: messages already seen but still queued wake it
    // too, so none waits for the next one to arrive.
    const auto count = static_cast<DWORD>(set.handles.size());
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(count, set.handles.data(), timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    ++wakeUps_;
    if (woke == WAIT_OBJECT_0 + count) {
        dispatchMessages();
    } else {
        const bool ran = windows::runSignalled(watches_, set, woke);
        if (woke == WAIT_FAILED && !ran)
            clock_.doze(std::min(wait, Clock::Duration(std::chrono::milliseconds(1))));
    }
    tasks_.runDueOnTime(clock_);
}

void GuiEventLoop::dispatchMessages()
{
    MSG message;
    while (!quitting_ && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitting_ = true;
            exitCode_ = static_cast<int>(message.wParam);
            return;
        }
        if (filter_ && filter_(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

int GuiEventLoop::run()
{
    while (!quitting_)
        runOnce(IdleRound);
    return exitCode_;
}

void GuiEventLoop::enterSystemModalLoop()
{
    if (systemModalLoops_++ == 0)
        ::SetTimer(pollWindow_, PollTimer, PollPeriodMs, nullptr);
}

void GuiEventLoop::leaveSystemModalLoop()
{
    if (systemModalLoops_ > 0 && --systemModalLoops_ == 0)
        ::KillTimer(pollWindow_, PollTimer);
}

void GuiEventLoop::poll()
{
    ++polls_;
    const windows::HandleSet set = windows::handlesOf(watches_);
    if (!set.handles.empty()) {
        const DWORD woke =
            ::WaitForMultipleObjects(static_cast<DWORD>(set.handles.size()), set.handles.data(), FALSE, 0);
        windows::runSignalled(watches_, set, woke);
    }
    tasks_.runDue(clock_.now());
}

LRESULT CALLBACK GuiEventLoop::pollWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == PollTimer) {
        if (auto* loop = reinterpret_cast<GuiEventLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
            loop->poll();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace isp
