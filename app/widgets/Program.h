#pragma once

#include "app/handlers/Shell.h"
#include "app/widgets/Form1.h"
#include "app/widgets/QtEventLoop.h"
#include "serial/CommControl.h"
#include "serial/PortDirectory.h"
#include "serial/SerialLine.h"
#include "transfer/LoopTimer.h"

#include <memory>

// The window's composition root: the event loop, the serial component
// (MSComm1) on this system's line, the timer (Timer1), the main window and
// the event handlers, wired together in one place.
namespace isp {

class Program {
public:
    // The real program: this system's serial ports, real time.
    Program();
    // With another line and port directory (the tests' simulated line).
    Program(std::unique_ptr<SerialLine> line, std::unique_ptr<PortDirectory> ports);
    ~Program();

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Loads the main window (port scan and starting state), then shows it.
    void start();

    Form1& form() { return form_; }
    Shell& shell() { return shell_; }
    SerialComponent& MSComm1() { return MSComm1_; }

private:
    // Declared in the order they are built; the handlers go first at the end.
    QtEventLoop loop_;
    std::unique_ptr<PortDirectory> ports_;
    CommControl MSComm1_;
    LoopTimer Timer1_;
    Form1 form_;
    Shell shell_;
};

} // namespace isp
