#include "serial/sim/SimulatedScheduler.h"

#include <algorithm>
#include <cstdlib>

namespace isp {

Clock::TimePoint SimulatedScheduler::now()
{
    ++polls_;
    advanceTo(now_ + pollCost_);
    return now_;
}

void SimulatedScheduler::sleepUntil(TimePoint when)
{
    advanceTo(std::max(when, now_));
}

EventLoop::Id SimulatedScheduler::watch(NativeHandle /*handle*/, Interest /*interest*/, Task /*ready*/)
{
    // Nothing on simulated time has a descriptor to watch.
    std::abort();
}

void SimulatedScheduler::unwatch(Id /*id*/) {}

SimulatedScheduler::TaskId SimulatedScheduler::atLine(TimePoint when, Task task)
{
    const TaskId id = nextId_++;
    line_.emplace(Key{std::max(when, now_), id}, std::move(task));
    return id;
}

SimulatedScheduler::TaskId SimulatedScheduler::postLoop(TimePoint when, Task task)
{
    const TaskId id = nextId_++;
    loop_.emplace(Key{std::max(when, now_), id}, std::move(task));
    return id;
}

void SimulatedScheduler::cancel(TaskId id)
{
    for (auto* tasks : {&line_, &loop_}) {
        const auto found =
            std::find_if(tasks->begin(), tasks->end(), [id](const auto& item) { return item.first.id == id; });
        if (found != tasks->end()) {
            tasks->erase(found);
            return;
        }
    }
}

void SimulatedScheduler::advanceTo(TimePoint when)
{
    while (!line_.empty() && line_.begin()->first.when <= when) {
        auto node = line_.extract(line_.begin());
        now_ = std::max(now_, node.key().when);
        node.mapped()();
    }
    now_ = std::max(now_, when);
}

bool SimulatedScheduler::step(TimePoint limit)
{
    const bool lineDue = !line_.empty() && line_.begin()->first.when <= limit;
    const bool loopDue = !loop_.empty() && loop_.begin()->first.when <= limit;
    if (loopDue && (!lineDue || loop_.begin()->first.when <= line_.begin()->first.when)) {
        auto node = loop_.extract(loop_.begin());
        now_ = std::max(now_, node.key().when);
        node.mapped()();
        return true;
    }
    if (lineDue) {
        auto node = line_.extract(line_.begin());
        now_ = std::max(now_, node.key().when);
        node.mapped()();
        return true;
    }
    return false;
}

void SimulatedScheduler::runFor(Duration duration)
{
    const TimePoint limit = now_ + duration;
    while (step(limit)) {}
    advanceTo(limit);
}

bool SimulatedScheduler::runUntil(const std::function<bool()>& done, Duration limit)
{
    const TimePoint end = now_ + limit;
    while (!done()) {
        if (!step(end)) {
            advanceTo(end);
            return done();
        }
    }
    return true;
}

} // namespace isp
