#pragma once

#include "app/handlers/Shell.h"
#include "app/widgets/Form1.h"
#include "app/widgets/QtTimer.h"

#include <memory>

namespace isp {

class Clock;
class PortDirectory;
class SerialComponent;

// The program's composition root: the serial component (MSComm1), the timer
// (Timer1), the main window and the event handlers, wired together. The
// clicks of the three buttons go to the handlers; the handlers connect
// themselves to the ticks, the serial notifications and the port box.
class Program {
public:
    // The real program: the system's serial ports on termios, real time.
    Program();
    // With another serial component and clock (tests run on a simulated line).
    Program(std::unique_ptr<SerialComponent> MSComm1, Clock& clock);
    ~Program();

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Loads the main window (port scan and starting state), then shows it.
    void start();

    Form1& form() { return form_; }
    Shell& shell() { return shell_; }

private:
    Program(std::unique_ptr<PortDirectory> ports, Clock& clock);

    // Declared in the order they are built; the handlers go first at the end.
    std::unique_ptr<PortDirectory> ports_;
    std::unique_ptr<SerialComponent> MSComm1_;
    QtTimer Timer1_;
    Form1 form_;
    Shell shell_;
};

} // namespace isp
