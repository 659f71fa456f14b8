#include "app/widgets/Program.h"
#include "serial/Platform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    isp::platform::tuneProcessForTiming();
    QApplication app(argc, argv);
    // Lets the desktop match the windows to the installed desktop entry
    // (velmora-isp2.desktop), and so to its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora-isp2"));
    isp::Program program;
    program.start();
    return QApplication::exec();
}
