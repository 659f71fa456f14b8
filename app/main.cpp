#include "Program.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    isp::Program program;
    program.start();
    return QApplication::exec();
}
