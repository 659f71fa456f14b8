#include "app/win32/Program.h"

#include "serial/Platform.h"

namespace isp::win32 {

Program::Program()
    : ports_(platform::makePortDirectory()),
      MSComm1_(platform::makeSerialLine(loop_), *ports_, loop_),
      Timer1_(loop_),
      form_(loop_),
      shell_(MSComm1_, Timer1_, form_, loop_.clock())
{
    // Tab moves the focus in whichever of the program's windows has it.
    loop_.setMessageFilter([](MSG& message) { return LaidOutWindow::moveFocusOnTab(message); });
}

Program::~Program() = default;

int Program::run()
{
    // The handler of the window's loading runs before the window shows.
    shell_.Form1_Load();
    form_.show();
    return loop_.run();
}

} // namespace isp::win32
