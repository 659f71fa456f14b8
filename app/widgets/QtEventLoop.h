#pragma once

#include "serial/EventLoop.h"
#include "serial/TaskQueue.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <optional>
#include <vector>

class QSocketNotifier;

// The core's event loop on Qt's: watches are socket notifiers, tasks run from
// Qt's loop, nested ones included, so the upload goes on while a modal window
// shows. On Linux the timed tasks wake the loop through a timerfd: Qt's own
// timers wake it with millisecond granularity, which made every page up to a
// millisecond late. The loop wakes shortly before a task is due and waits out
// the rest on the clock, so a task is never early.
//
// On Windows the same adapter would watch event objects with
// QWinEventNotifier and wake on a QTimer; there is no Qt for Windows to
// build it with here.
namespace isp {

class QtEventLoop final : public EventLoop {
public:
    explicit QtEventLoop(Clock& clock = SteadyClock::instance());
    ~QtEventLoop() override;
    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;

    Clock& clock() override { return clock_; }
    Id post(Task task) override;
    Id runAt(Clock::TimePoint when, Task task) override;
    void cancel(Id id) override;
    Id watch(NativeHandle handle, Interest interest, Task ready) override;
    void unwatch(Id id) override;

private:
    // Sets the wake-up for the earliest task.
    void arm();
    void onWake();

    struct Watch {
        QSocketNotifier* notifier; // a child of context_
        Task ready;
    };
    void dispatch(QSocketNotifier* notifier);

    Clock& clock_;
    TaskQueue tasks_;
    QObject context_;
    std::map<Id, Watch> watches_;
    // Notifiers of removed watches, kept for the next watch of the same kind:
    // the serial line watches its device anew at each of the page sender's
    // two reopenings per page, and a notifier made and destroyed each time
    // cost a page tens of microseconds.
    std::vector<QSocketNotifier*> spare_[2];
    Id nextWatchId_ = 1;
    int timerFd_ = -1;
    std::optional<Clock::TimePoint> armedFor_; // the timerfd's wake-up, while set
    QSocketNotifier* timerNotifier_ = nullptr;
    QTimer fallback_; // without a timerfd
    bool wakePosted_ = false;
};

} // namespace isp
