#include "cli/Interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>

// The classic self-pipe: the signal handler only writes a byte into a pipe
// (write() is safe in a handler), and the event loop watches the other end.
namespace isp::cli {
namespace {

// Only one watch exists at a time: the handler finds the pipe here.
volatile sig_atomic_t signalPipe = -1;

// The signal's number is the byte written.
void onSignal(int signal)
{
    const int savedErrno = errno;
    const auto byte = static_cast<char>(signal);
    // A full pipe already says "interrupted".
    [[maybe_unused]] const auto written = ::write(signalPipe, &byte, 1);
    errno = savedErrno;
}

constexpr std::array<int, 3> WatchedSignals{SIGINT, SIGTERM, SIGHUP};

ExitStatus statusOf(int signal)
{
    switch (signal) {
    case SIGHUP: return ExitStatus::HungUp;
    case SIGTERM: return ExitStatus::Terminated;
    default: return ExitStatus::Interrupted;
    }
}

} // namespace

struct InterruptWatch::Watch {
    EventLoop& loop;
    std::function<void(ExitStatus)> interrupted;
    int readEnd = -1;
    int writeEnd = -1;
    EventLoop::Id watchId = 0;
    std::array<struct sigaction, WatchedSignals.size()> previous{};
};

InterruptWatch::InterruptWatch(EventLoop& loop, std::function<void(ExitStatus)> interrupted)
    : watch_(std::make_unique<Watch>(Watch{loop, std::move(interrupted)}))
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("no pipe for the interrupt signals");
    watch_->readEnd = ends[0];
    watch_->writeEnd = ends[1];
    signalPipe = ends[1];
    watch_->watchId = loop.watch(watch_->readEnd, EventLoop::Interest::Read, [watch = watch_.get()] {
        char signals[64];
        for (ssize_t got; (got = ::read(watch->readEnd, signals, sizeof signals)) > 0;) {
            for (ssize_t i = 0; i < got; ++i)
                watch->interrupted(statusOf(signals[i]));
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < WatchedSignals.size(); ++i)
        ::sigaction(WatchedSignals[i], &action, &watch_->previous[i]);
}

InterruptWatch::~InterruptWatch()
{
    for (std::size_t i = 0; i < WatchedSignals.size(); ++i)
        ::sigaction(WatchedSignals[i], &watch_->previous[i], nullptr);
    signalPipe = -1;
    watch_->loop.unwatch(watch_->watchId);
    ::close(watch_->readEnd);
    ::close(watch_->writeEnd);
}

} // namespace isp::cli
