#pragma once

#include "serial/Clock.h"
#include "serial/EventLoop.h"

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

// Simulated time for tests, benchmarks and fuzzing. Two kinds of work are
// scheduled on it:
// - line work (bytes finishing on the wire, the device's reactions), done as
//   soon as time passes, even while the program is busy, like hardware;
// - loop work (serial notifications, timer ticks), done only when the event
//   loop runs: runFor(), runUntil(), or a modal window's nested loop.
// Time passes when the program sleeps, when the loop waits for its next
// event, and by a small step at every now(), so that a loop polling the
// clock moves forward as it would on a real machine.
//
// It is the program's event loop and clock: posted and timed tasks are loop
// work. Nothing is watched: the simulated line moves bytes by line work.
namespace isp {

class SimulatedScheduler final : public Clock, public EventLoop {
public:
    using TaskId = EventLoop::Id;

    explicit SimulatedScheduler(Duration pollCost = std::chrono::microseconds(10)) : pollCost_(pollCost) {}

    TimePoint now() override;
    void sleepUntil(TimePoint when) override;
    void doze(Duration duration) override { sleepFor(duration); }

    Clock& clock() override { return *this; }
    Id post(Task task) override { return postLoop(now_, std::move(task)); }
    Id runAt(TimePoint when, Task task) override { return postLoop(when, std::move(task)); }
    // cancel() below serves line and loop work alike.
    Id watch(NativeHandle handle, Interest interest, Task ready) override;
    void unwatch(Id id) override;

    // The current time, without the cost of a poll.
    TimePoint time() const { return now_; }

    // Polls of the clock so far, and the simulated time they cost: what a
    // real machine would spend busy rather than asleep.
    std::uint64_t polls() const { return polls_; }
    Duration busyTime() const { return pollCost_ * static_cast<Duration::rep>(polls_); }

    TaskId atLine(TimePoint when, Task task);
    TaskId postLoop(TimePoint when, Task task);
    void cancel(TaskId id) override;

    // Runs the event loop for the given simulated time.
    void runFor(Duration duration);
    // Runs the event loop until the predicate holds or the limit passes;
    // returns whether it holds.
    bool runUntil(const std::function<bool()>& done, Duration limit);

private:
    struct Key {
        TimePoint when;
        TaskId id;
        auto operator<=>(const Key&) const = default; // NOLINT(modernize-use-nullptr): a false finding on <=>
    };

    // Moves the clock to `when`, doing the line work due on the way.
    void advanceTo(TimePoint when);
    // Does the earliest line or loop task due by `limit`, in time order;
    // false if there is none.
    bool step(TimePoint limit);

    Duration pollCost_;
    std::uint64_t polls_ = 0;
    TimePoint now_{};
    TaskId nextId_ = 1;
    std::map<Key, Task> line_;
    std::map<Key, Task> loop_;
};

} // namespace isp
