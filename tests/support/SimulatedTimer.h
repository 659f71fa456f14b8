#pragma once

#include "serial/sim/SimulatedScheduler.h"
#include "transfer/Timer.h"

// Timer1 on simulated time: a tick is a loop event Interval after arming.
namespace isp::test {

class SimulatedTimer final : public Timer {
public:
    explicit SimulatedTimer(SimulatedScheduler& scheduler) : scheduler_(scheduler) {}
    ~SimulatedTimer() override { stopCount(); }

    bool armed() const { return counting(); }
    // When the armed count started; meaningful while armed.
    Clock::TimePoint armedAt() const { return armedAt_; }

protected:
    void startCount(std::chrono::milliseconds duration) override
    {
        stopCount();
        armedAt_ = scheduler_.time();
        task_ = scheduler_.postLoop(armedAt_ + duration, [this] {
            task_ = 0;
            countElapsed();
        });
    }
    void stopCount() override
    {
        if (task_ != 0)
            scheduler_.cancel(task_);
        task_ = 0;
    }
    bool counting() const override { return task_ != 0; }

private:
    SimulatedScheduler& scheduler_;
    SimulatedScheduler::TaskId task_ = 0;
    Clock::TimePoint armedAt_{};
};

} // namespace isp::test
