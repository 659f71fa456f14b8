#pragma once

#include "serial/EventLoop.h"
#include "serial/MainLoop.h"
#include "tests/support/PseudoTerminal.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// The command line as the end-to-end tests run it: which program, and how a
// pseudo-terminal becomes its PORT argument. Both come from the environment,
// so that the same tests run against the native program and against a
// Windows build under Wine:
//
//   ISP_CLI_COMMAND      the command, split at spaces (default: the native
//                        program this build made), e.g.
//                        "wine /path/velmora-isp2-cli.exe"
//   ISP_CLI_PORT_NAMING  "path" (default): PORT is the pty's slave path;
//                        "wine": a link $WINEPREFIX/dosdevices/comN -> the
//                        slave, and PORT is COMN (N from ISP_CLI_WINE_COM,
//                        default 33)
//
// Tests that need Linux itself (another process holding the port, the
// system's port list) are in suites named Posix*, so that a run under Wine
// leaves them out with --gtest_filter=-Posix*.
namespace isp::test {

// The PORT argument for one pty, and whatever it took to make it; undone
// when it goes.
class PortName {
public:
    explicit PortName(std::string argument, std::string link = {})
        : argument_(std::move(argument)), link_(std::move(link))
    {
    }
    ~PortName();
    PortName(PortName&& other) noexcept : argument_(std::move(other.argument_)), link_(std::move(other.link_))
    {
        other.link_.clear();
    }
    PortName(const PortName&) = delete;
    PortName& operator=(const PortName&) = delete;
    PortName& operator=(PortName&&) = delete;

    const std::string& argument() const { return argument_; }
    // The device came back as another pty: the link names that one now.
    void pointAt(const std::string& slavePath) const;

private:
    std::string argument_;
    std::string link_; // made for this name, removed with it
};

// COMn of the Wine prefix ($WINEPREFIX/dosdevices/comN) made a link to the
// slave.
PortName wineComPortFor(const std::string& slavePath, const std::string& n);

struct CliUnderTest {
    std::vector<std::string> command;
    std::function<PortName(const std::string& slavePath)> portNaming;
    bool underWine = false;

    // A name that stays while the device behind it comes and goes, as a
    // /dev/serial/by-id link or a Windows COMn does: a link in `folder`, or
    // the comN link of the Wine prefix.
    PortName linkedPort(const std::string& slavePath, const std::string& folder) const;

    // From the environment (see above).
    static CliUnderTest fromEnvironment();
};

// One run of the command line as a child process. Its stdout and stderr are
// read on the test's event loop as they come, so that a test can wait for a
// line and play the device on the same loop meanwhile.
class CliProcess {
public:
    CliProcess(EventLoop& loop, const std::vector<std::string>& argv);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // True once the program has ended and all it wrote was read.
    bool exited();
    // The exit status; 128 + the signal's number if a signal ended it.
    int exitStatus() const { return status_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    void sendSignal(int signal) const;
    // The reader of the program's stdout goes away, as a `| head` that has
    // read enough does.
    void closeOut() { closeStream(outStream_); }

private:
    struct Stream {
        int fd = -1;
        EventLoop::Id watch = 0;
        std::string* text = nullptr;
    };
    void readFrom(Stream& stream);
    void closeStream(Stream& stream);

    EventLoop& loop_;
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_;
    std::string err_;
    Stream outStream_;
    Stream errStream_;
};

// Runs the loop until `done` holds or `limit` passed, looking at least every
// 20 ms (a program's end wakes nothing on the loop). `limit` is a safety
// limit for a test gone wrong, never a pacing.
bool runUntil(MainLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit);

// Lines of text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

} // namespace isp::test
