#pragma once

#include <chrono>

// Time as the program sees it. The page sender polls and sleeps through this
// seam so that the simulated line of the tests can run on simulated time.
namespace isp {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    // Blocks the calling thread; no events are handled meanwhile.
    virtual void sleepFor(Duration duration) = 0;
};

// The real monotonic clock.
class SteadyClock final : public Clock {
public:
    TimePoint now() override;
    void sleepFor(Duration duration) override;

    static SteadyClock& instance();
};

} // namespace isp
