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

void PollEventLoop::runOnce(Clock::Duration limit)
{
    const Clock::TimePoint start = clock_.now();
    Clock::TimePoint wakeAt = start + limit;
    if (const auto wake = tasks_.wakeUpTime())
        wakeAt = std::min(wakeAt, *wake);

    std::vector<pollfd> fds;
    std::vector<Id> ids;
    fds.reserve(watches_.size());
    ids.reserve(watches_.size());
    for (const auto& w : watches_.all()) {
        fds.push_back({w.target.fd, static_cast<short>(w.target.interest == Interest::Read ? POLLIN : POLLOUT), 0});
        ids.push_back(w.id);
    }
    const timespec timeout = toTimespec(wakeAt - start);
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    ++wakeUps_;
    if (ready > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents != 0)
                watches_.run(ids[i]);
        }
    }

    tasks_.runDueOnTime(clock_);
}

} // namespace isp
