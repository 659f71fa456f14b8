#include "SimulatedScheduler.h"

#include <algorithm>

namespace isp {

Clock::TimePoint SimulatedScheduler::now()
{
    advanceTo(now_ + pollCost_);
    return now_;
}

void SimulatedScheduler::sleepFor(Duration duration)
{
    advanceTo(now_ + std::max(duration, Duration::zero()));
}

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
        const auto found = std::find_if(tasks->begin(), tasks->end(), [id](const auto& item) { return item.first.id == id; });
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

bool SimulatedScheduler::runOneLoopTask(TimePoint limit)
{
    if (loop_.empty() || loop_.begin()->first.when > limit)
        return false;
    const TimePoint when = loop_.begin()->first.when;
    advanceTo(when);
    // Line work done on the way may have posted earlier loop work.
    auto node = loop_.extract(loop_.begin());
    ++loopEventsRun_;
    node.mapped()();
    return true;
}

void SimulatedScheduler::runFor(Duration duration)
{
    const TimePoint limit = now_ + duration;
    while (runOneLoopTask(limit)) {
    }
    advanceTo(limit);
}

bool SimulatedScheduler::runUntil(const std::function<bool()>& done, Duration limit)
{
    const TimePoint end = now_ + limit;
    while (!done()) {
        if (runOneLoopTask(end))
            continue;
        // Nothing for the loop yet: let the line move up to the next loop
        // task or the end, in small steps so the predicate is rechecked.
        const TimePoint next = loop_.empty() ? end : std::min(end, loop_.begin()->first.when);
        if (now_ >= end)
            return done();
        const TimePoint lineNext = line_.empty() ? next : std::min(next, line_.begin()->first.when);
        advanceTo(std::max(lineNext, now_ + Duration(1)));
    }
    return true;
}

} // namespace isp
