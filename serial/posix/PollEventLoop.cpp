#include "serial/posix/PollEventLoop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace isp {
namespace {

timespec toTimespec(Clock::Duration duration)
{
    const auto ns = std::max<Clock::Duration::rep>(duration.count(), 0);
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

} // namespace

EventLoop::Id PollEventLoop::watch(NativeHandle handle, Interest interest, Task ready)
{
    // Watch ids count down from the top, so they never meet task ids.
    const Id id = ~Id{0} - nextWatchId_++;
    watches_.push_back({id, handle, interest, std::move(ready)});
    return id;
}

void PollEventLoop::unwatch(Id id)
{
    std::erase_if(watches_, [id](const Watch& w) { return w.id == id; });
}

void PollEventLoop::runOnce(Clock::Duration limit)
{
    const Clock::TimePoint start = clock_.now();
    Clock::TimePoint wakeAt = start + limit;
    const auto due = tasks_.nextDue();
    if (due)
        wakeAt = std::min(wakeAt, *due - SteadyClock::WakeUpLatency);

    std::vector<pollfd> fds;
    std::vector<Id> ids;
    fds.reserve(watches_.size());
    ids.reserve(watches_.size());
    for (const Watch& w : watches_) {
        fds.push_back({w.fd, static_cast<short>(w.interest == Interest::Read ? POLLIN : POLLOUT), 0});
        ids.push_back(w.id);
    }
    const timespec timeout = toTimespec(wakeAt - start);
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    ++wakeUps_;
    if (ready > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            // An earlier handler may have removed this watch.
            const Id id = ids[i];
            const auto found =
                std::find_if(watches_.begin(), watches_.end(), [id](const Watch& w) { return w.id == id; });
            if (found == watches_.end())
                continue;
            Task task = found->ready; // the handler may unwatch itself
            task();
        }
    }

    // Due within the wake-up latency: wait it out, then run it on time.
    if (const auto next = tasks_.nextDue(); next && *next - clock_.now() <= SteadyClock::WakeUpLatency)
        clock_.sleepUntil(*next);
    tasks_.runDue(clock_.now());
}

} // namespace isp
