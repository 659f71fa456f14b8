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

#include <memory>

// The window's handlers on the real Linux line and the plain event loop,
// with COM1 the slave of a pseudo-terminal and a boot loader on its master.
namespace isp::test {

struct PtyRig {
    PollEventLoop loop;
    std::unique_ptr<PseudoTerminal> pty = std::make_unique<PseudoTerminal>();
    // What the system lists as its ports; COM1 is the pty by default.
    std::vector<std::string> systemPorts{pty->slavePath()};
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
};

} // namespace isp::test
