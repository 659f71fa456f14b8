#pragma once

#include "image/ImageLayout.h"
#include "serial/posix/PollEventLoop.h"
#include "tests/cli/CliUnderTest.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// The command line against a scripted device: the program as a child
// process (see CliUnderTest.h), its PORT a pseudo-terminal whose master side
// the test plays with the virtual boot loader, on the test's own event loop.
namespace isp::test {

using namespace std::chrono_literals;

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class CliFixture : public ::testing::Test {
protected:
    // Safety limits for a program or device gone wrong, never a pacing.
    static constexpr auto StartLimit = 30000ms;
    static constexpr auto UploadLimit = 120000ms;

    PollEventLoop loop;
    PseudoTerminal pty;
    CliUnderTest cli = CliUnderTest::fromEnvironment();
    PortName port = cli.portNaming(pty.slavePath());
    ScratchFolder folder;

    std::string writeImage(const ImageBytes& image, const std::string& name = "image.bin")
    {
        std::string path = folder / name;
        writeFile(path, image);
        return path;
    }

    std::unique_ptr<CliProcess> run(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv = cli.command;
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<CliProcess>(loop, argv);
    }

    // `upload PORT IMAGE options...`, once the program listens on the port
    // (it says so on stderr), so that the device's first request is not
    // thrown away with the input that came before the opening.
    std::unique_ptr<CliProcess> startUpload(const std::string& image, const std::vector<std::string>& options)
    {
        return startUploadOn(port.argument(), image, options);
    }
    std::unique_ptr<CliProcess> startUploadOn(
        const std::string& portArgument, const std::string& image, const std::vector<std::string>& options)
    {
        std::vector<std::string> arguments{"upload", portArgument, image};
        arguments.insert(arguments.end(), options.begin(), options.end());
        auto process = run(arguments);
        EXPECT_TRUE(runUntil(
            loop, [&] { return process->err().find("waiting for") != std::string::npos || process->exited(); },
            StartLimit));
        return process;
    }

    std::unique_ptr<PtyBootLoader> startDevice(VirtualBootLoader::Options options = {})
    {
        options.answerMayFollowTheRequestBefore = cli.underWine;
        auto device = std::make_unique<PtyBootLoader>(pty, loop, std::move(options));
        device->loader().start();
        return device;
    }

    // The device hangs up 300 ms after its `pages`th page, as a boot loader
    // with a USB port of its own does once it has programmed the page and
    // starts the new firmware.
    void restartAfterPages(PtyBootLoader& device, int pages)
    {
        device.setOnPageWritten([this, &device, pages] {
            if (device.loader().pagesWritten() == pages)
                loop.runAt(loop.clock().now() + 300ms, [&device] { device.hangUp(); });
        });
    }

    // The exit status, once the program has ended.
    int awaitExit(CliProcess& process)
    {
        EXPECT_TRUE(runUntil(
            loop, [&] { return process.exited(); }, UploadLimit))
            << process.err();
        return process.exitStatus();
    }
};

} // namespace isp::test
