#pragma once

#include "serial/EventLoop.h"
#include "transfer/Timer.h"

// Timer1 on the program's event loop. Every arming starts a fresh one-shot
// count, so a tick never comes sooner than Interval after it was armed.
namespace isp {

class LoopTimer final : public Timer {
public:
    explicit LoopTimer(EventLoop& loop) : loop_(loop) {}
    ~LoopTimer() override { stopCount(); }
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

    // When the count running now started; meaningful while it runs.
    Clock::TimePoint armedAt() const { return armedAt_; }
    bool armed() const { return counting(); }

protected:
    void startCount(std::chrono::milliseconds duration) override
    {
        stopCount();
        armedAt_ = loop_.clock().now();
        task_ = loop_.runAt(armedAt_ + duration, [this] {
            task_ = 0;
            countElapsed();
        });
    }
    void stopCount() override
    {
        loop_.cancel(task_);
        task_ = 0;
    }
    bool counting() const override { return task_ != 0; }

private:
    EventLoop& loop_;
    EventLoop::Id task_ = 0;
    Clock::TimePoint armedAt_{};
};

} // namespace isp
