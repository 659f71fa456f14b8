#pragma once

#include <functional>

// The main window's timer, Timer1, as the handlers drive it: Interval in
// milliseconds, then Enabled. Setting a non-zero Interval while enabled starts
// the count again from now; Interval 0 or Enabled false stops it. The tick
// comes from the event loop, never sooner than Interval after it was armed.
namespace isp {

class Timer {
public:
    using Handler = std::function<void()>;
    virtual ~Timer() = default;

    virtual void setInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;

    void setOnTick(Handler handler) { onTick_ = std::move(handler); }

protected:
    void raiseTick()
    {
        if (onTick_)
            onTick_();
    }

private:
    Handler onTick_;
};

} // namespace isp
