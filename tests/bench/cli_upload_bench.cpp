// Whole uploads through the real velmora-isp2-cli over a pseudo-terminal,
// the boot loader on the master side asking for the next page the moment a
// page is complete. Prints, per upload, what the host adds per page beyond
// the 20 ms the program waits after a request and the 10 ms it pauses after
// a page, as tests/bench/upload_bench.cpp does for the core in one process.
//
// The figures come from the program's own --trace: the time between two
// requests as the program took them, less 30 ms, and from a request to its
// header. The device here is another process and reads the page during the
// program's 10 ms pause, so it asks again before the pause is over and the
// program takes the request as the pause ends; the device's own view adds
// its wake-ups (and 1 ms each time the pty's slave was closed under it) and
// is printed beside.
//
// The program's own stdout and stderr are this one's: run from a terminal,
// its progress line and summary show as a user would see them.
//
//   cli_upload_bench [uploads] [program]     (default: 3, the program built here)
#include "serial/posix/PollEventLoop.h"
#include "serial/posix/PortHolders.h"
#include "tests/cli/PtyViolations.h"
#include "tests/support/BenchFigures.h"
#include "tests/support/ImageScript.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/PtyBootLoader.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

using namespace isp;
using namespace isp::test;
using namespace std::chrono;

namespace {

void printFigures(const char* what, const std::vector<double>& values)
{
    if (values.empty())
        return;
    std::printf("  %s: median %.3f ms, p99 %.3f ms, max %.3f ms\n", what, percentile(values, 0.5),
        percentile(values, 0.99), percentile(values, 1.0));
}

pid_t startProgram(
    const std::string& program, const std::string& port, const std::string& image, const std::string& trace)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), "upload", port.c_str(), image.c_str(), "--idle-timeout", "0.3",
            "--trace", trace.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// The times of the requests taken and of the headers sent, in ms, from a
// trace: "<seconds> rx ..." and "<seconds> tx space ...".
struct TraceTimes {
    std::vector<double> requests;
    std::vector<double> headers;
};

TraceTimes readTrace(const std::string& path)
{
    TraceTimes times;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const double ms = std::stod(line) * 1000.0;
        if (line.find(" rx ") != std::string::npos)
            times.requests.push_back(ms);
        else if (line.find(" tx space ") != std::string::npos)
            times.headers.push_back(ms);
    }
    return times;
}

bool uploadOnce(int round, const std::string& program)
{
    PollEventLoop loop;
    PseudoTerminal pty;
    const ImageBytes image = randomImage(static_cast<std::uint32_t>(round));
    const std::string scratch = "/tmp/cli-upload-bench-" + std::to_string(::getpid());
    const std::string imagePath = scratch + ".bin";
    const std::string tracePath = scratch + ".trace";
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    const pid_t pid = startProgram(program, pty.slavePath(), imagePath, tracePath);
    int status = -1;
    bool ended = false;
    const auto programEnded = [&] {
        ended = ended || ::waitpid(pid, &status, WNOHANG) == pid;
        return ended;
    };
    // Asked before the program opened the port, the first request would be
    // thrown away with the input from before the opening.
    const auto deadline = steady_clock::now() + 30s;
    while (processesUsingDevice(pty.slavePath()).empty() && steady_clock::now() < deadline && !programEnded())
        loop.runOnce(1ms);

    VirtualBootLoader::Options options;
    options.programmingTime = Clock::Duration::zero();
    PtyBootLoader device(pty, loop, options);
    const auto start = steady_clock::now();
    device.loader().start();
    // The program ends on its own once the board is done, or early on a fault.
    loop.runUntil(programEnded, 130s);
    const double total = duration<double>(steady_clock::now() - start).count();
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    const TraceTimes trace = readTrace(tracePath);
    std::remove(imagePath.c_str());
    std::remove(tracePath.c_str());

    const auto& loader = device.loader();
    const std::vector<std::string> violations = violationsOnAPty(loader);
    const bool clean = loader.finished() && violations.empty() && loader.flash() == image && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
    std::vector<double> overhead;
    for (std::size_t i = 0; i + 1 < trace.requests.size(); ++i)
        overhead.push_back(trace.requests[i + 1] - trace.requests[i] - 30.0);
    std::vector<double> toHeader;
    for (std::size_t i = 0; i < trace.requests.size() && i < trace.headers.size(); ++i)
        toHeader.push_back(trace.headers[i] - trace.requests[i]);

    std::printf("upload %d: %s, %d pages, exit status %d, %.3f s until the program ended\n", round,
        clean ? "clean" : "FAULTY", loader.pagesWritten(), WIFEXITED(status) ? WEXITSTATUS(status) : -1, total);
    printFigures("host overhead per page beyond 20 + 10 ms", overhead);
    if (!toHeader.empty())
        std::printf("  request taken to header queued: min %.3f ms, median %.3f ms\n", percentile(toHeader, 0.0),
            percentile(toHeader, 0.5));
    printFigures("as the device saw it", hostOverheadPerPage(loader));
    for (const auto& violation : violations)
        std::printf("  violation: %s\n", violation.c_str());
    std::fflush(stdout);
    return clean;
}

} // namespace

int main(int argc, char** argv)
{
    const int uploads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string program = argc > 2 ? argv[2] : ISP_CLI_PROGRAM;
    std::printf("program: %s\n", program.c_str());
    std::fflush(stdout);
    bool clean = true;
    for (int round = 1; round <= uploads; ++round)
        clean = uploadOnce(round, program) && clean;
    return clean ? 0 : 1;
}
