#pragma once

#include "serial/EventLoop.h"

#include <map>
#include <optional>
#include <unordered_map>

// The posted and timed tasks of an event loop, in the order they are due: the
// part every loop implementation shares. A posted task is one due now.
namespace isp {

class TaskQueue {
public:
    using Id = EventLoop::Id;

    Id add(Clock::TimePoint when, EventLoop::Task task);
    void cancel(Id id);

    // When the earliest task is due; empty when there is none.
    std::optional<Clock::TimePoint> nextDue() const;

    // When a loop should wake for the earliest task: the clock's wake-up
    // latency before it is due, so that runDueOnTime() can wait out the rest.
    std::optional<Clock::TimePoint> wakeUpTime() const;

    // Runs, in order, the tasks due by `now` that were queued before this
    // call: a task that posts another does not keep the loop from its
    // watches. Returns whether any ran.
    bool runDue(Clock::TimePoint now);

    // runDue() for a loop that has just woken: an earliest task due within
    // the wake-up latency is waited for on the clock first, so that a timed
    // task runs on time and never early.
    bool runDueOnTime(Clock& clock);

private:
    struct Key {
        Clock::TimePoint when;
        Id id;
        auto operator<=>(const Key&) const = default; // NOLINT(modernize-use-nullptr): a false finding on <=>
    };

    std::map<Key, EventLoop::Task> tasks_;
    std::unordered_map<Id, Clock::TimePoint> dueOf_;
    Id nextId_ = 1;
};

} // namespace isp
