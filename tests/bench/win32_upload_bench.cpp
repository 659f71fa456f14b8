// Whole uploads under Wine, through the Win32 window (clicked as a user
// would) and through the command line, taking turns in one run, with the
// boot loader on the master side of a pseudo-terminal mapped to COM3. Prints
// per upload the time from the first request to the last page, what the host
// adds per page beyond the 20 ms before a header and the 10 ms after a frame
// (as the device sees it), and the most memory the program held (a plain
// program, not a test: it prints figures, and under Wine they are Wine's).
//
// Run with the environment scripts/windows-test.sh gives its Wine tests
// (WINEPREFIX, DISPLAY, ISP_WIN32_WINDOW, ISP_WIN32_DRIVER), and ISP_CLI_EXE
// naming velmora-isp2-cli.exe:
//   win32_upload_bench [rounds]       (default 3)
#include "serial/Platform.h"
#include "tests/support/BenchFigures.h"
#include "tests/support/ImageScript.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/win32/WineSession.h"

#include <cstdio>
#include <fstream>
#include <string>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

struct Upload {
    bool finished = false;
    double seconds = 0;
    std::vector<double> overhead;
    long peakKiB = 0;
};

Upload measure(PtyBootLoader& device, WineProcess& program, MainLoop& loop)
{
    Upload result;
    device.loader().start();
    result.finished = runUntil(
        loop, [&] { return device.loader().finished(); }, 120s);
    const auto& timings = device.loader().timings();
    if (!timings.empty())
        result.seconds = ms(timings.back().frameDone - timings.front().requestArrived) / 1000.0;
    result.overhead = hostOverheadPerPage(device.loader());
    result.peakKiB = program.peakKiB();
    return result;
}

Upload throughTheWindow(const std::filesystem::path& image, const std::filesystem::path& scratch)
{
    const auto loop = platform::makeMainLoop();
    WindowDriver driver(*loop);
    removeComLinks();
    PseudoTerminal pty;
    const ComLink link(3, pty.slavePath());
    PtyBootLoader device(pty, *loop);
    WineProcess program(environment("ISP_WIN32_WINDOW"), {}, scratch / "window.log");
    if (!driver.act({"wait", "Form1", "30000"}) || !driver.act({"click", "Form1", "OpenFile"})
        || !driver.act({"open-in-dialog", windowsPath(image)}) || !driver.act({"gone", "dialog", "10000"})
        || !driver.act({"click", "Form1", "OpenUart"}))
        return {};
    runUntil(
        *loop,
        [&] {
            return WindowDriver::control(WindowDriver::window(driver.tree(), "Form1"), "OpenUart")["text"]
                == "Uart:open";
        },
        30s);
    Upload result = measure(device, program, *loop);
    driver.act({"click", "Form1", "ExitCommand"});
    runUntil(
        *loop, [&] { return program.exited(); }, 30s);
    return result;
}

Upload throughTheCommandLine(const std::filesystem::path& image, const std::filesystem::path& scratch)
{
    const auto loop = platform::makeMainLoop();
    removeComLinks();
    PseudoTerminal pty;
    const ComLink link(3, pty.slavePath());
    PtyBootLoader device(pty, *loop);
    WineProcess program(environment("ISP_CLI_EXE"), {"upload", "COM3", windowsPath(image), "--idle-timeout", "0.3"},
        scratch / "cli.log");
    // The program asks for nothing: it waits for the first request.
    runUntil(
        *loop, [] { return false; }, 1500ms);
    Upload result = measure(device, program, *loop);
    runUntil(
        *loop, [&] { return program.exited(); }, 30s);
    return result;
}

void print(const char* what, const Upload& upload)
{
    if (!upload.finished) {
        std::printf("%-13s did not finish\n", what);
        return;
    }
    std::printf("%-13s %.3f s for 224 pages; host per page: median %.3f ms, p99 %.3f ms, max %.3f ms; "
                "peak memory %ld KiB\n",
        what, upload.seconds, percentile(upload.overhead, 0.5), percentile(upload.overhead, 0.99),
        percentile(upload.overhead, 1.0), upload.peakKiB);
}

} // namespace

int main(int argc, char* argv[])
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 3;
    char folder[] = "/tmp/isp-win32-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::filesystem::path scratch = folder;
    const ImageBytes image = randomImage(7);
    const std::filesystem::path imagePath = scratch / "firmware.bin";
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d\n", round);
        print("  window", throughTheWindow(imagePath, scratch));
        print("  command line", throughTheCommandLine(imagePath, scratch));
        std::fflush(stdout);
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
