#include "serial/TaskQueue.h"

namespace isp {

TaskQueue::Id TaskQueue::add(Clock::TimePoint when, EventLoop::Task task)
{
    const Id id = nextId_++;
    tasks_.emplace(Key{when, id}, std::move(task));
    dueOf_.emplace(id, when);
    return id;
}

void TaskQueue::cancel(Id id)
{
    const auto found = dueOf_.find(id);
    if (found == dueOf_.end())
        return;
    tasks_.erase(Key{found->second, id});
    dueOf_.erase(found);
}

std::optional<Clock::TimePoint> TaskQueue::nextDue() const
{
    if (tasks_.empty())
        return std::nullopt;
    return tasks_.begin()->first.when;
}

std::optional<Clock::TimePoint> TaskQueue::wakeUpTime() const
{
    const auto due = nextDue();
    if (!due)
        return std::nullopt;
    return *due - SteadyClock::wakeUpLatency();
}

bool TaskQueue::runDueOnTime(Clock& clock)
{
    if (const auto due = nextDue(); due && *due - clock.now() <= SteadyClock::wakeUpLatency())
        clock.sleepUntil(*due);
    return runDue(clock.now());
}

bool TaskQueue::runDue(Clock::TimePoint now)
{
    const Id firstLater = nextId_;
    bool ran = false;
    auto next = tasks_.begin();
    while (next != tasks_.end() && next->first.when <= now) {
        if (next->first.id >= firstLater) {
            ++next;
            continue;
        }
        auto node = tasks_.extract(next);
        dueOf_.erase(node.key().id);
        node.mapped()();
        ran = true;
        // The task may have added or cancelled others.
        next = tasks_.begin();
    }
    return ran;
}

} // namespace isp
