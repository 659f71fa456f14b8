#include "app/widgets/QtEventLoop.h"

#include <QMetaObject>
#include <QSocketNotifier>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>

namespace isp {

QtEventLoop::QtEventLoop(Clock& clock) : clock_(clock)
{
#ifdef __linux__
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
#endif
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&fallback_, &QTimer::timeout, &context_, [this] { onWake(); });
}

QtEventLoop::~QtEventLoop()
{
    // The timer's notifier goes before the descriptor it watches; the
    // watches' notifiers go with context_.
    delete timerNotifier_;
#ifdef __linux__
    if (timerFd_ >= 0)
        ::close(timerFd_);
#endif
}

EventLoop::Id QtEventLoop::post(Task task)
{
    const Id id = tasks_.add(clock_.now(), std::move(task));
    if (!wakePosted_) {
        wakePosted_ = true;
        QMetaObject::invokeMethod(
            &context_,
            [this] {
                wakePosted_ = false;
                onWake();
            },
            Qt::QueuedConnection);
    }
    return id;
}

EventLoop::Id QtEventLoop::runAt(Clock::TimePoint when, Task task)
{
    const Id id = tasks_.add(when, std::move(task));
    arm();
    return id;
}

void QtEventLoop::cancel(Id id)
{
    tasks_.cancel(id);
}

EventLoop::Id QtEventLoop::watch(NativeHandle handle, Interest interest, Task ready)
{
    const Id id = nextWatchId_++;
    auto& spare = spare_[interest == Interest::Read ? 0 : 1];
    QSocketNotifier* notifier = nullptr;
    if (spare.empty()) {
        notifier =
            new QSocketNotifier(interest == Interest::Read ? QSocketNotifier::Read : QSocketNotifier::Write, &context_);
        QObject::connect(notifier, &QSocketNotifier::activated, &context_, [this, notifier] { dispatch(notifier); });
    } else {
        notifier = spare.back();
        spare.pop_back();
    }
    notifier->setSocket(handle);
    notifier->setEnabled(true);
    watches_.emplace(id, Watch{notifier, std::move(ready)});
    return id;
}

void QtEventLoop::unwatch(Id id)
{
    const auto found = watches_.find(id);
    if (found == watches_.end())
        return;
    // The handler being run may be this notifier's own: it stays alive.
    QSocketNotifier* notifier = found->second.notifier;
    notifier->setEnabled(false);
    spare_[notifier->type() == QSocketNotifier::Read ? 0 : 1].push_back(notifier);
    watches_.erase(found);
}

void QtEventLoop::dispatch(QSocketNotifier* notifier)
{
    for (auto& [id, watch] : watches_) {
        if (watch.notifier == notifier) {
            const Task ready = watch.ready; // the handler may remove its watch
            ready();
            return;
        }
    }
}

void QtEventLoop::arm()
{
    const auto wake = tasks_.wakeUpTime();
    if (!wake) {
        fallback_.stop();
        return;
    }
    const Clock::TimePoint wakeAt = *wake;
#ifdef __linux__
    if (timerFd_ >= 0) {
        if (!timerNotifier_) {
            // Made at the first arming: the application may not exist before.
            timerNotifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read);
            QObject::connect(timerNotifier_, &QSocketNotifier::activated, &context_, [this] {
                // Takes the expiry; a wake with none to take (EAGAIN) runs
                // the due tasks all the same, which is harmless.
                std::uint64_t expirations = 0;
                if (::read(timerFd_, &expirations, sizeof expirations) < 0)
                    expirations = 0;
                armedFor_.reset();
                onWake();
            });
        }
        // Most wakes leave the earliest task where it was.
        if (armedFor_ == wakeAt)
            return;
        // Absolute on the monotonic clock, which steady_clock reads. A time
        // already past fires at once; zero would disarm, so use 1 ns.
        const auto ns = std::max<std::int64_t>(wakeAt.time_since_epoch().count(), 1);
        itimerspec at{};
        at.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        at.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        if (::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &at, nullptr) == 0) {
            armedFor_ = wakeAt;
            return;
        }
    }
#endif
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - clock_.now());
    fallback_.start(std::max(left, std::chrono::milliseconds(0)));
}

void QtEventLoop::onWake()
{
    tasks_.runDueOnTime(clock_);
    arm();
}

} // namespace isp
