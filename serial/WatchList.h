#pragma once

#include "serial/EventLoop.h"

#include <algorithm>
#include <vector>

// The watches of a plain event loop: what each one waits on and the task to
// run when it is ready. Watch ids count down from the top, so they never
// meet the ids of the loop's tasks.
namespace isp {

template <typename Target>
class WatchList {
public:
    struct Watch {
        EventLoop::Id id;
        Target target;
        EventLoop::Task ready;
    };

    EventLoop::Id add(Target target, EventLoop::Task ready)
    {
        const EventLoop::Id id = ~EventLoop::Id{0} - nextId_++;
        watches_.push_back({id, std::move(target), std::move(ready)});
        return id;
    }

    void remove(EventLoop::Id id)
    {
        std::erase_if(watches_, [id](const Watch& w) { return w.id == id; });
    }

    const std::vector<Watch>& all() const { return watches_; }
    std::size_t size() const { return watches_.size(); }

    // Runs the task of watch `id`, unless an earlier task of the same wake-up
    // removed the watch. Returns whether it ran.
    bool run(EventLoop::Id id)
    {
        const auto found = std::find_if(watches_.begin(), watches_.end(), [id](const Watch& w) { return w.id == id; });
        if (found == watches_.end())
            return false;
        const EventLoop::Task task = found->ready; // the task may remove its own watch
        task();
        return true;
    }

private:
    std::vector<Watch> watches_;
    EventLoop::Id nextId_ = 1;
};

} // namespace isp
