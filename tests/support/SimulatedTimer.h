#pragma once

#include "SimulatedScheduler.h"
#include "Timer.h"

// Timer1 on simulated time: a tick is a loop event Interval after arming.
namespace isp::test {

class SimulatedTimer final : public Timer {
public:
    explicit SimulatedTimer(SimulatedScheduler& scheduler) : scheduler_(scheduler) {}
    ~SimulatedTimer() override { stop(); }

    void setInterval(int milliseconds) override
    {
        interval_ = milliseconds < 0 ? 0 : milliseconds;
        restart();
    }
    int Interval() const override { return interval_; }
    void setEnabled(bool enabled) override
    {
        if (enabled == enabled_)
            return;
        enabled_ = enabled;
        restart();
    }
    bool Enabled() const override { return enabled_; }

    int ticks() const { return ticks_; }
    // When the armed tick is due; meaningful while armed.
    Clock::TimePoint armedAt() const { return armedAt_; }
    bool armed() const { return task_ != 0; }

private:
    void stop()
    {
        if (task_ != 0)
            scheduler_.cancel(task_);
        task_ = 0;
    }
    void restart()
    {
        stop();
        if (!enabled_ || interval_ == 0)
            return;
        armedAt_ = scheduler_.time();
        task_ = scheduler_.postLoop(armedAt_ + std::chrono::milliseconds(interval_), [this] {
            task_ = 0;
            ++ticks_;
            raiseTick();
            // A timer keeps ticking until its handler stops it.
            if (enabled_ && interval_ > 0 && task_ == 0)
                restart();
        });
    }

    SimulatedScheduler& scheduler_;
    int interval_ = 0;
    bool enabled_ = false;
    int ticks_ = 0;
    SimulatedScheduler::TaskId task_ = 0;
    Clock::TimePoint armedAt_{};
};

} // namespace isp::test
