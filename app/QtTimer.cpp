#include "QtTimer.h"

namespace isp {

QtTimer::QtTimer()
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { onTimeout(); });
}

void QtTimer::setInterval(int milliseconds)
{
    interval_ = milliseconds < 0 ? 0 : milliseconds;
    restart();
}

void QtTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    restart();
}

void QtTimer::restart()
{
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}

void QtTimer::onTimeout()
{
    // A timer keeps ticking until its handler stops it; ours always does.
    const bool stillArmed = enabled_ && interval_ > 0;
    raiseTick();
    if (stillArmed && enabled_ && interval_ > 0 && !timer_.isActive())
        timer_.start(interval_);
}

} // namespace isp
