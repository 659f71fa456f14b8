#include "app/widgets/Program.h"

#include "serial/Clock.h"
#include "serial/PortDirectory.h"
#include "serial/posix/PosixSerialPort.h"

#include <QApplication>
#include <QIcon>
#include <QPushButton>

namespace isp {

Program::Program() : Program(std::make_unique<PortDirectory>(), SteadyClock::instance()) {}

Program::Program(std::unique_ptr<PortDirectory> ports, Clock& clock)
    : Program(std::make_unique<PosixSerialPort>(*ports, clock), clock)
{
    // The component keeps a reference to the directory: keep it alive as
    // long as the component, which is destroyed before this member.
    ports_ = std::move(ports);
}

Program::Program(std::unique_ptr<SerialComponent> MSComm1, Clock& clock)
    : MSComm1_(std::move(MSComm1)), shell_(*MSComm1_, Timer1_, form_, clock)
{
    QApplication::setWindowIcon(form_.windowIcon());

    QObject::connect(form_.openFileButton(), &QPushButton::clicked, &form_, [this] { shell_.OpenFile_Click(); });
    QObject::connect(form_.openUartButton(), &QPushButton::clicked, &form_, [this] { shell_.OpenUart_Click(); });
    QObject::connect(form_.exitButton(), &QPushButton::clicked, &form_, [this] { shell_.ExitCommand_Click(); });
}

Program::~Program() = default;

void Program::start()
{
    // As the window loads: a message of the scan shows before the window.
    shell_.Form1_Load();
    form_.show();
}

} // namespace isp
