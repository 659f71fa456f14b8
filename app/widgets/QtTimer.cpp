#include "app/widgets/QtTimer.h"

#include <QSocketNotifier>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>

namespace isp {
namespace {

constexpr std::chrono::microseconds WakeUpLatency{200};

} // namespace

QtTimer::QtTimer()
{
#ifdef __linux__
    // The thread that runs the upload sleeps 10 ms after every page; the
    // default 50 us of timer slack would add up to that on each sleep.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
#endif
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&fallback_, &QTimer::timeout, &context_, [this] { onTimeout(); });
}

QtTimer::~QtTimer()
{
    notifier_.reset();
#ifdef __linux__
    if (timerFd_ >= 0)
        ::close(timerFd_);
#endif
}

void QtTimer::stopCount()
{
#ifdef __linux__
    if (timerFd_ >= 0) {
        const itimerspec disarm{};
        ::timerfd_settime(timerFd_, 0, &disarm, nullptr);
        std::uint64_t stale = 0;
        (void)::read(timerFd_, &stale, sizeof stale); // drop an expiry not yet handled
    }
#endif
    fallback_.stop();
}

void QtTimer::startCount(std::chrono::milliseconds duration)
{
    due_ = std::chrono::steady_clock::now() + duration;
#ifdef __linux__
    if (timerFd_ >= 0 && !notifier_) {
        // Made at the first arming: the event loop may not exist before.
        notifier_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &context_, [this] {
            std::uint64_t expirations = 0;
            if (::read(timerFd_, &expirations, sizeof expirations) == sizeof expirations)
                onTimeout();
        });
    }
    if (timerFd_ >= 0) {
        // Wake a little early and wait out the rest on the clock: the
        // kernel wakes a thread 50 to 100 us late on a busy machine.
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - WakeUpLatency);
        itimerspec once{};
        once.it_value.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
        once.it_value.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
        if (::timerfd_settime(timerFd_, 0, &once, nullptr) == 0)
            return;
    }
#endif
    fallback_.start(duration);
}

void QtTimer::onTimeout()
{
    // Never sooner than Interval after the arming.
    while (std::chrono::steady_clock::now() < due_) {}
    countElapsed();
}

bool QtTimer::counting() const
{
#ifdef __linux__
    if (timerFd_ >= 0) {
        itimerspec current{};
        ::timerfd_gettime(timerFd_, &current);
        if (current.it_value.tv_sec != 0 || current.it_value.tv_nsec != 0)
            return true;
    }
#endif
    return fallback_.isActive();
}

} // namespace isp
