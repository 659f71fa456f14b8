#pragma once

#include "serial/EventLoop.h"
#include "serial/WatchList.h"

#include <cstddef>
#include <vector>

// What the Windows event loops share about waiting on event objects: the
// handles of their watches, in order, and running the watches found
// signalled once a wait returned. The command line's loop waits with
// WaitForMultipleObjects, the window's with MsgWaitForMultipleObjectsEx; both
// take at most 64 handles, one of which is the loop's own timer.
namespace isp::windows {

inline constexpr std::size_t MaxWaitHandles = 64;

struct HandleSet {
    std::vector<NativeHandle> handles; // the watches' handles, then any the loop adds
    std::vector<EventLoop::Id> ids;    // one for each watch's handle
};

HandleSet handlesOf(const WatchList<NativeHandle>& watches);

// After a wait on `set` that returned `woke` (WAIT_OBJECT_0 + i, a time-out
// or WAIT_FAILED): runs the task of each watch whose handle is signalled,
// from the one that ended the wait on (the wait names only the lowest
// index). After WAIT_FAILED every watch runs, so that the owner of a handle
// that is no longer valid looks at it. Returns whether a task ran.
bool runSignalled(WatchList<NativeHandle>& watches, const HandleSet& set, unsigned long woke);

} // namespace isp::windows
