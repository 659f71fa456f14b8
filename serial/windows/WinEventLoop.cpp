#include "serial/windows/WinEventLoop.h"

#include <windows.h>

namespace isp {

void WinEventLoop::runOnce(Clock::Duration limit)
{
    const Wait wait = prepareWait(limit);
    const auto& handles = wait.set.handles;
    const DWORD woke = handles.empty()
        ? (::Sleep(wait.timeout), WAIT_TIMEOUT)
        : ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait.timeout);
    finishWait(wait, woke);
}

} // namespace isp
