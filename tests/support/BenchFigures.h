#pragma once

#include "serial/Clock.h"
#include "tests/support/VirtualBootLoader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

// The figures the benchmarks print: durations in milliseconds, percentiles of
// a series, and the host's part of each page as the boot loader saw it.
namespace isp::test {

inline double ms(Clock::Duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The value at fraction p (0 the smallest, 0.5 the median, 1 the largest).
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
    return values[index];
}

// From one request to the next the program must take 20 ms before the
// header and 10 ms after the frame; what it took beyond that, per page, in ms.
inline std::vector<double> hostOverheadPerPage(const VirtualBootLoader& loader)
{
    std::vector<double> overhead;
    const auto& timings = loader.timings();
    for (std::size_t i = 0; i + 1 < timings.size(); ++i)
        overhead.push_back(ms(timings[i + 1].requestArrived - timings[i].requestArrived) - 30.0);
    return overhead;
}

} // namespace isp::test
