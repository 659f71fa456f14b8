#include "app/widgets/Program.h"

#include "serial/Platform.h"

#include <QApplication>
#include <QIcon>

namespace isp {

Program::Program() : Program(nullptr, nullptr) {}

Program::Program(std::unique_ptr<SerialLine> line, std::unique_ptr<PortDirectory> ports)
    : ports_(ports ? std::move(ports) : platform::makePortDirectory()),
      MSComm1_(line ? std::move(line) : platform::makeSerialLine(loop_), *ports_, loop_),
      Timer1_(loop_),
      shell_(MSComm1_, Timer1_, form_, loop_.clock())
{
    QApplication::setWindowIcon(form_.windowIcon());
}

Program::~Program() = default;

void Program::start()
{
    // The handler of the window's loading runs before the window shows.
    shell_.Form1_Load();
    form_.show();
}

} // namespace isp
