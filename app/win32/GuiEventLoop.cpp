#include "app/win32/GuiEventLoop.h"

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

GuiEventLoop::GuiEventLoop(Clock& clock) : HandleWaitLoop(clock, MaxWatches)
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
}

void GuiEventLoop::runOnce(Clock::Duration limit)
{
    const Wait wait = prepareWait(limit);
    // MWMO_INPUTAVAILABLE: messages already seen but still queued wake it
    // too, so none waits for the next one to arrive.
    const auto count = static_cast<DWORD>(wait.set.handles.size());
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(count, wait.set.handles.data(), wait.timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0 + count)
        dispatchMessages();
    finishWait(wait, woke);
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

LRESULT CALLBACK GuiEventLoop::pollWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == PollTimer) {
        if (auto* loop = reinterpret_cast<GuiEventLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
            ++loop->polls_;
            loop->runReady();
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace isp
