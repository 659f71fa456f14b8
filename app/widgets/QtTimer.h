#pragma once

#include "transfer/Timer.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class QSocketNotifier;

// Timer1 on Qt's event loop. Every arming starts a fresh single-shot count,
// so a tick never comes sooner than Interval after it was armed (a repeating
// or coarse QTimer may fire a little early). On Linux the count runs on a
// timerfd watched by the event loop: Qt's own timers wake the loop with
// millisecond granularity, which made every page up to a millisecond late.
namespace isp {

class QtTimer final : public Timer {
public:
    QtTimer();
    ~QtTimer() override;
    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

protected:
    void startCount(std::chrono::milliseconds duration) override;
    void stopCount() override;
    bool counting() const override;

private:
    void onTimeout();

    std::chrono::steady_clock::time_point due_{};
    QObject context_;
    int timerFd_ = -1; // Linux: the count runs here
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer fallback_; // elsewhere, or without timerfd
};

} // namespace isp
