// A whole 224-page upload on a real 38400-baud line, on simulated time, with
// the boot loader behind a USB adapter that holds short input until its
// latency timer runs out (an FTDI chip: 16 ms, or 1 ms once the driver is
// asked for low latency, as the user's opening does). Deterministic: the
// same figures on every machine.
//
//   adapter_latency_bench
#include "tests/support/BenchFigures.h"
#include "tests/support/SimulatedRig.h"

#include <chrono>
#include <cstdio>
#include <optional>

using namespace isp;
using namespace isp::test;
using namespace std::chrono;

namespace {

struct Case {
    const char* what;
    std::optional<UsbAdapter> adapter;
};

bool upload(const Case& run, Clock::Duration programmingTime)
{
    SimulatedRig rig;
    rig.line.addPort(1);
    if (run.adapter)
        rig.line.plugAdapter(1, *run.adapter);
    rig.shell.Form1_Load();
    const ImageBytes image = randomImage(17);
    rig.loadImage(image);
    rig.shell.OpenUart_Click();
    VirtualBootLoader::Options options;
    options.programmingTime = programmingTime;
    auto loader = rig.attachBootLoader(1, options);
    const auto start = rig.scheduler.time();
    loader->start();
    if (!rig.scheduler.runUntil([&] { return loader->finished(); }, seconds(120)) || !loader->violations().empty()
        || loader->flash() != image) {
        std::fprintf(stderr, "%s: the upload did not complete cleanly\n", run.what);
        return false;
    }
    // The last page's frame is the end of the upload.
    const double total = duration<double>(loader->timings().back().frameDone - start).count();
    std::vector<double> held;
    for (const auto gap : loader->gaps())
        held.push_back(ms(gap) - 20.0);
    std::printf("  %-48s %d pages in %6.3f s; request to header beyond 20 ms: median %.3f ms, max %.3f ms\n", run.what,
        loader->pagesWritten(), total, percentile(held, 0.5), percentile(held, 1.0));
    return true;
}

} // namespace

int main()
{
    UsbAdapter withoutLowLatency = UsbAdapter::ftdi();
    withoutLowLatency.driverOffersLowLatency = false;
    const Case cases[] = {
        {"built-in UART (no adapter):", std::nullopt},
        {"FTDI adapter, low latency asked (1 ms timer):", UsbAdapter::ftdi()},
        {"FTDI adapter, no low latency (16 ms timer):", withoutLowLatency},
    };
    bool clean = true;
    // A request that comes during the program's 10 ms pause after a page
    // waits for its end anyway, which hides part of the adapter's hold.
    for (const auto programming : {milliseconds(3), milliseconds(12)}) {
        std::printf("the device programs a page in %lld ms, then asks for the next one:\n",
            static_cast<long long>(programming.count()));
        for (const Case& run : cases)
            clean = upload(run, programming) && clean;
    }
    return clean ? 0 : 1;
}
