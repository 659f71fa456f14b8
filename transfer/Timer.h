#pragma once

#include <chrono>
#include <functional>

// The main window's timer, Timer1, as the handlers drive it: Interval in
// milliseconds, then Enabled. Setting a non-zero Interval while enabled starts
// the count again from now; Interval 0 or Enabled false stops it. The tick
// comes from the event loop, never sooner than Interval after it was armed,
// and repeats until a handler stops the timer.
//
// The rule lives here; an implementation only runs one count at a time.
namespace isp {

class Timer {
public:
    using Handler = std::function<void()>;
    virtual ~Timer() = default;

    void setInterval(int milliseconds)
    {
        interval_ = milliseconds < 0 ? 0 : milliseconds;
        restart();
    }
    int Interval() const { return interval_; }
    void setEnabled(bool enabled)
    {
        if (enabled == enabled_)
            return;
        enabled_ = enabled;
        restart();
    }
    bool Enabled() const { return enabled_; }

    void setOnTick(Handler handler) { onTick_ = std::move(handler); }

protected:
    // Starts a count that calls countElapsed() once it has run out,
    // replacing any count in progress.
    virtual void startCount(std::chrono::milliseconds duration) = 0;
    virtual void stopCount() = 0;
    virtual bool counting() const = 0;

    // For implementations: the count has run out.
    void countElapsed()
    {
        if (!enabled_ || interval_ == 0)
            return;
        if (onTick_)
            onTick_();
        if (enabled_ && interval_ > 0 && !counting())
            restart();
    }

private:
    void restart()
    {
        stopCount();
        if (enabled_ && interval_ > 0)
            startCount(std::chrono::milliseconds(interval_));
    }

    Handler onTick_;
    int interval_ = 0;
    bool enabled_ = false;
};

} // namespace isp
