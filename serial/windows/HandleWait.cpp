#include "serial/windows/HandleWait.h"

#include <windows.h>

namespace isp::windows {

HandleSet handlesOf(const WatchList<NativeHandle>& watches)
{
    HandleSet set;
    set.handles.reserve(watches.size() + 1);
    set.ids.reserve(watches.size());
    for (const auto& w : watches.all()) {
        set.handles.push_back(w.target);
        set.ids.push_back(w.id);
    }
    return set;
}

bool runSignalled(WatchList<NativeHandle>& watches, const HandleSet& set, unsigned long woke)
{
    const bool failed = woke == WAIT_FAILED;
    if (!failed && (woke < WAIT_OBJECT_0 || woke >= WAIT_OBJECT_0 + set.ids.size()))
        return false;
    const std::size_t first = failed ? 0 : woke - WAIT_OBJECT_0;
    bool ran = false;
    for (std::size_t i = first; i < set.ids.size(); ++i) {
        if (i != first || failed) {
            const DWORD state = ::WaitForSingleObject(set.handles[i], 0);
            if (state != WAIT_OBJECT_0 && state != WAIT_FAILED)
                continue;
        }
        if (watches.run(set.ids[i]))
            ran = true;
    }
    return ran;
}

} // namespace isp::windows
