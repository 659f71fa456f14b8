// Times the page sender's reopening of the port on a pseudo-terminal: close,
// set the port number, the parity of the next frame, buffers and thresholds,
// open again. The page sender does this around every page, so it must cost
// far less than a page's line time (132 bytes at 38400 baud: 37.8 ms). Also
// times the low-latency request that only the user's opening makes.
// Also shows that a vanished device leaves the process idle.
#include "serial/CommControl.h"
#include "serial/posix/PollEventLoop.h"
#include "serial/posix/PosixLine.h"
#include "tests/support/BenchFigures.h"
#include "tests/support/PseudoTerminal.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace isp;
using Micro = std::chrono::duration<double, std::micro>;

namespace {

constexpr int WarmUpCycles = 100;
constexpr int MeasuredCycles = 2000;
constexpr std::size_t PageFrameBytes = 132;

void report(const char* what, const std::vector<double>& micros)
{
    std::printf("%-44s n=%zu  median %.1f us  p99 %.1f us  max %.1f us\n", what, micros.size(),
        test::percentile(micros, 0.5), test::percentile(micros, 0.99), test::percentile(micros, 1.0));
}

bool reopen(SerialComponent& port, int cycle)
{
    bool ok = static_cast<bool>(port.setPortOpen(false));
    ok &= static_cast<bool>(port.setCommPort(1));
    ok &= static_cast<bool>(port.setSettings(cycle % 2 == 0 ? "38400,S,8,1" : "38400,M,8,1"));
    port.setInBufferSize(1024);
    port.setOutBufferSize(512);
    port.setInputLen(0);
    port.setRThreshold(1);
    port.setSThreshold(0);
    ok &= static_cast<bool>(port.setPortOpen(true));
    return ok;
}

// Times each cycle of `step` after a warm-up.
template <typename Step>
std::vector<double> timeCycles(Step step)
{
    std::vector<double> micros;
    micros.reserve(MeasuredCycles);
    for (int cycle = 0; cycle < WarmUpCycles + MeasuredCycles; ++cycle) {
        const auto start = std::chrono::steady_clock::now();
        if (!step(cycle)) {
            std::fprintf(stderr, "cycle %d failed\n", cycle);
            std::exit(1);
        }
        const auto end = std::chrono::steady_clock::now();
        if (cycle >= WarmUpCycles)
            micros.push_back(Micro(end - start).count());
    }
    return micros;
}

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main()
{
    PollEventLoop loop;
    test::PseudoTerminal pty;
    ListedPortDirectory directory([&] { return std::vector<std::string>{pty.slavePath()}; });
    CommControl port(std::make_unique<PosixLine>(loop), directory, loop);
    if (!port.setSettings("38400,M,8,1") || !port.setPortOpen(true)) {
        std::fprintf(stderr, "cannot open %s\n", pty.slavePath().c_str());
        return 1;
    }

    report("reopen (close, set up, open)", timeCycles([&](int cycle) { return reopen(port, cycle); }));
    // What the user's opening adds to an opening: the low-latency request,
    // which a pty answers with ENOTTY (a USB adapter's driver does more).
    report("low-latency request (pty: ENOTTY)", timeCycles([&](int) {
        port.requestLowLatency();
        return true;
    }));

    // With a page frame queued before each close; the far end reads it.
    std::atomic<bool> reading{true};
    std::thread farEnd([&] {
        while (reading)
            pty.receive(1 << 16, std::chrono::milliseconds(20));
    });
    const std::vector<std::uint8_t> frame(PageFrameBytes, 0x55);
    report("page frame + reopen (drain, close, open)",
        timeCycles([&](int cycle) { return port.Output(frame) && reopen(port, cycle); }));
    reading = false;
    farEnd.join();

    // A vanished device must not keep the process busy.
    int gone = 0;
    port.setOnComm([&] { gone += port.CommEvent() == comEventDeviceGone; });
    pty.closeMaster();
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    loop.runFor(std::chrono::milliseconds(200));
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    std::printf("after a vanish: %d report(s), CPU %.1f ms in %.0f ms of event loop (%.1f%%)\n", gone, cpu * 1e3,
        wall * 1e3, 100.0 * cpu / wall);
    return 0;
}
