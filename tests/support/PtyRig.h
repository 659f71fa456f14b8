#pragma once

#include "app/handlers/Shell.h"
#include "serial/CommControl.h"
#include "serial/ForwardingSerialComponent.h"
#include "serial/posix/PollEventLoop.h"
#include "serial/posix/PosixLine.h"
#include "tests/support/ImageScript.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/support/ScriptedForm1.h"
#include "transfer/LoopTimer.h"

#include <filesystem>
#include <memory>
#include <unistd.h>

// The window's handlers on the real Linux line and the plain event loop,
// with COM1 the slave of a pseudo-terminal and a boot loader on its master.
namespace isp::test {

// A name of the test's own for the pty's slave, as udev gives an adapter a
// stable link. Unplugging takes the name away with the device, and no other
// program's pseudo-terminal can come back under it: the kernel hands a freed
// pts number to the next pty opened anywhere on the machine, so a test that
// listed /dev/pts/N itself would find "its" port back whenever some other
// program opened a terminal.
class PortLink {
public:
    explicit PortLink(const std::string& target)
        : folder_(std::filesystem::temp_directory_path()
            / ("isp-port-" + std::to_string(::getpid()) + "-" + std::to_string(next()))),
          path_(folder_ / "ttyISP0")
    {
        std::filesystem::create_directories(folder_);
        pointAt(target);
    }
    ~PortLink()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    std::string path() const { return path_.string(); }
    // The adapter is plugged in (again) as this device.
    void pointAt(const std::string& target)
    {
        remove();
        std::filesystem::create_symlink(target, path_);
    }
    void remove()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

private:
    static int next()
    {
        static int count = 0;
        return ++count;
    }

    std::filesystem::path folder_;
    std::filesystem::path path_;
};

struct PtyRig {
    PollEventLoop loop;
    std::unique_ptr<PseudoTerminal> pty = std::make_unique<PseudoTerminal>();
    PortLink link{pty->slavePath()};
    // What the system lists as its ports; COM1 is the pty by default.
    std::vector<std::string> systemPorts{link.path()};
    ListedPortDirectory directory{[this] { return systemPorts; }};
    CommControl control{std::make_unique<PosixLine>(loop), directory, loop};
    // What the handlers see: the component, with a window onto what passes.
    ForwardingSerialComponent comm{control};
    LoopTimer timer{loop};
    // A message keeps the event loop running until "ok".
    ScriptedForm1 form{[this](Clock::Duration d) { loop.runFor(d); }};
    Shell shell{comm, timer, form, loop.clock()};
    std::unique_ptr<PtyBootLoader> device;

    // Start-up, an image, the port opened, and a boot loader that starts
    // asking.
    void startUpload(const ImageBytes& image, VirtualBootLoader::Options options = {})
    {
        shell.Form1_Load();
        openImage(shell, form, image);
        shell.OpenUart_Click();
        device = std::make_unique<PtyBootLoader>(*pty, loop, std::move(options));
        device->loader().start();
    }

    bool runUntil(const std::function<bool()>& done, Clock::Duration limit) { return loop.runUntil(done, limit); }

    // The adapter is pulled out: the far end hangs up and its name goes.
    void unplug()
    {
        if (device)
            device->hangUp();
        else
            pty->closeMaster();
        link.remove();
    }
};

} // namespace isp::test
