#pragma once

#include "app/handlers/Shell.h"
#include "app/win32/GuiEventLoop.h"
#include "app/win32/MainWindow.h"
#include "serial/CommControl.h"
#include "serial/PortDirectory.h"
#include "transfer/LoopTimer.h"

#include <memory>

// The Win32 window's composition root: the event loop, the serial component
// (MSComm1) on this system's line, the timer (Timer1), the main window and
// the event handlers, wired together in one place.
namespace isp::win32 {

class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Loads the main window (port scan and starting state), shows it, and
    // runs until it is closed; returns the exit code.
    int run();

private:
    // Declared in the order they are built; the handlers go first at the end.
    GuiEventLoop loop_;
    std::unique_ptr<PortDirectory> ports_;
    CommControl MSComm1_;
    LoopTimer Timer1_;
    MainWindow form_;
    Shell shell_;
};

} // namespace isp::win32
