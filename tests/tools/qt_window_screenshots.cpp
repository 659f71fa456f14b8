// Writes pictures of the two windows for the user guide (docs/), as
// scripts/screenshots.sh runs it:
//   qt_window_screenshots MAIN_WINDOW.png MESSAGE_WINDOW.png
// It builds the windows themselves, not the program: the main window as the
// handlers leave it part-way through an upload (COM1 open, the progress bar
// at page 150 of 0 to 223), the message window with the message of a port
// that another program holds. Each picture is the window's client area as Qt
// draws it (QWidget::grab), without the frame a window manager would add.

#include "app/handlers/Messages.h"
#include "app/widgets/Form1.h"
#include "app/widgets/PromptForm.h"

#include <QApplication>
#include <QPixmap>
#include <QString>
#include <QTest>

#include <cstdio>

namespace {

bool save(QWidget& window, const char* path)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "qt_window_screenshots: %s was not shown\n", qPrintable(window.windowTitle()));
        return false;
    }
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(path), "PNG")) {
        std::fprintf(stderr, "qt_window_screenshots: cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: qt_window_screenshots MAIN_WINDOW.png MESSAGE_WINDOW.png\n");
        return 2;
    }

    isp::Form1 form;
    form.addPortEntry("COM1", "/dev/ttyUSB0");
    form.addPortEntry("COM2", "/dev/ttyS0");
    form.setPortText("COM1");
    form.setOpenUartCaption("Uart:open");
    form.setProgressRange(0, 223);
    form.setProgressValue(150);
    if (!save(form, argv[1]))
        return 1;

    isp::PromptForm prompt(&form);
    prompt.setContent(QString::fromLatin1(isp::messages::PortHeld));
    return save(prompt, argv[2]) ? 0 : 1;
}
