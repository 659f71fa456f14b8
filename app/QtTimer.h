#pragma once

#include "Timer.h"

#include <QTimer>

// Timer1 on Qt's event loop. Every arming starts a fresh precise single-shot
// count, so a tick never comes sooner than Interval after it was armed (a
// repeating or coarse QTimer may fire a little early).
namespace isp {

class QtTimer final : public Timer {
public:
    QtTimer();

    void setInterval(int milliseconds) override;
    int Interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }

private:
    void restart();
    void onTimeout();

    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = false;
};

} // namespace isp
