// How the host waits for a page to leave a real 38400-baud line: a whole
// upload on the simulated line, which counts every poll of the clock and
// the simulated time those polls keep the processor busy. On a real machine
// that busy time is processor time burnt while the bytes are on the wire.
//
//   line_wait_bench [uploads]
#include "tests/support/SimulatedRig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace isp;
using namespace isp::test;
using namespace std::chrono;

int main(int argc, char** argv)
{
    const int uploads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    for (int run = 0; run < uploads; ++run) {
        SimulatedRig rig;
        const ImageBytes image = randomImage(static_cast<unsigned>(run + 1));
        rig.startReadyToUpload(image);
        auto loader = rig.attachBootLoader(1);
        const auto polls = rig.scheduler.polls();
        const auto busy = rig.scheduler.busyTime();
        const auto start = rig.scheduler.time();
        const std::clock_t cpu = std::clock();
        loader->start();
        if (!rig.scheduler.runUntil([&] { return loader->finished(); }, seconds(120))
            || !loader->violations().empty()) {
            std::fprintf(stderr, "upload %d did not complete cleanly\n", run + 1);
            return 1;
        }
        const double pages = loader->pagesWritten();
        const double realCpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf("upload %d: %d pages in %.2f s simulated; per page: %.1f polls, %.3f ms busy polling "
                    "(simulated), %.3f ms of this process's CPU\n",
            run + 1, loader->pagesWritten(), duration<double>(rig.scheduler.time() - start).count(),
            static_cast<double>(rig.scheduler.polls() - polls) / pages,
            duration<double, std::milli>(rig.scheduler.busyTime() - busy).count() / pages, realCpuMs / pages);
    }
    return 0;
}
