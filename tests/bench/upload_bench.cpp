// A whole 224-page upload over a pseudo-terminal with the real Linux line,
// the boot loader asking for the next page the moment a page is complete.
// Prints what the host adds per page beyond the 20 ms it waits after a
// request and the 10 ms it pauses after a page. Runs on the window's event
// loop (Qt's, through its adapter), or with --poll on the plain loop of the
// command line.
//
//   upload_bench [--poll] [uploads]
#include "app/handlers/Shell.h"
#include "app/widgets/QtEventLoop.h"
#include "serial/CommControl.h"
#include "serial/ForwardingSerialComponent.h"
#include "serial/Platform.h"
#include "serial/posix/PollEventLoop.h"
#include "serial/posix/PosixLine.h"
#include "tests/support/BenchFigures.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/support/ScriptedForm1.h"
#include "tests/support/SimulatedRig.h"
#include "transfer/LoopTimer.h"
#include "transfer/Protocol.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>

using namespace isp;
using namespace isp::test;
using namespace std::chrono;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Runs `loop` until `done` holds or two minutes passed.
using LoopRunner = std::function<void(const std::function<bool()>& done)>;

bool uploadOnce(int round, EventLoop& eventLoop, const LoopRunner& runUntil)
{
    PseudoTerminal pty;
    ListedPortDirectory directory([&] { return std::vector<std::string>{pty.slavePath()}; });
    CommControl backend(std::make_unique<PosixLine>(eventLoop), directory, eventLoop);
    ForwardingSerialComponent comm(backend);
    // When the program queued each page's header: on a pty the device reads
    // it only once the program's tick is over, so it cannot time it itself.
    std::vector<Clock::TimePoint> headersQueued;
    comm.setOutputObserver([&](std::span<const std::uint8_t> bytes) {
        if (bytes.size() == 3)
            headersQueued.push_back(SteadyClock::instance().now());
    });
    LoopTimer timer(eventLoop);
    ScriptedForm1 form;
    Shell shell(comm, timer, form, SteadyClock::instance());
    shell.Form1_Load();
    const ImageBytes image = randomImage(static_cast<std::uint32_t>(round));
    openImage(shell, form, image);
    shell.OpenUart_Click();

    VirtualBootLoader::Options options;
    options.programmingTime = Clock::Duration::zero();
    PtyBootLoader device(pty, eventLoop, options);
    const double cpuBefore = cpuSeconds();
    const auto start = steady_clock::now();
    device.loader().start();
    runUntil([&] { return device.loader().finished() || steady_clock::now() - start > 120s; });
    const double total = duration<double>(steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;

    const auto& loader = device.loader();
    const bool clean = loader.finished() && loader.violations().empty() && loader.flash() == image;
    const std::vector<double> overhead = hostOverheadPerPage(loader);
    const auto& timings = loader.timings();
    std::vector<double> gaps;
    for (std::size_t i = 0; i < timings.size() && i < headersQueued.size(); ++i)
        gaps.push_back(ms(headersQueued[i] - timings[i].requestArrived));

    std::printf("upload %d: %s, %d pages in %.3f s, CPU %.3f s, resident %ld KiB\n", round, clean ? "clean" : "FAULTY",
        loader.pagesWritten(), total, cpu, residentKiB());
    if (!overhead.empty())
        std::printf("  host overhead per page beyond 20 + 10 ms: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
            percentile(overhead, 0.5), percentile(overhead, 0.99), percentile(overhead, 1.0));
    if (!gaps.empty())
        std::printf(
            "  request to header queued: min %.3f ms, median %.3f ms\n", percentile(gaps, 0.0), percentile(gaps, 0.5));
    for (const auto& violation : loader.violations())
        std::printf("  violation: %s\n", violation.c_str());
    return clean;
}

} // namespace

int main(int argc, char** argv)
{
    platform::tuneProcessForTiming();
    QCoreApplication app(argc, argv);
    const bool poll = argc > 1 && std::string(argv[1]) == "--poll";
    const int first = poll ? 2 : 1;
    const int uploads = argc > first ? std::max(1, std::atoi(argv[first])) : 1;
    std::printf("event loop: %s\n", poll ? "plain poll() loop (command line)" : "Qt's, through its adapter (window)");
    bool clean = true;
    for (int round = 1; round <= uploads; ++round) {
        if (poll) {
            PollEventLoop loop;
            clean = uploadOnce(round, loop, [&](const auto& done) { loop.runUntil(done, 130s); }) && clean;
        } else {
            QtEventLoop loop;
            clean = uploadOnce(round, loop, [&](const auto& done) {
                QEventLoop qt;
                QTimer check;
                QObject::connect(&check, &QTimer::timeout, [&] {
                    if (done())
                        qt.quit();
                });
                check.start(5);
                qt.exec();
            }) && clean;
        }
    }
    return clean ? 0 : 1;
}
