#include "app/handlers/Messages.h"
#include "app/handlers/PortNumberText.h"
#include "app/handlers/Shell.h"

namespace isp {

void Shell::ComSelect_Change()
{
    const auto n = portNumberFromText(form_.portText());
    if (!n)
        return;
    switch (transfer_.pickPort(*n)) {
    case Transfer::Pick::Same: break;
    case Transfer::Pick::Taken: form_.setOpenUartCaption("Uart:close"); break;
    case Transfer::Pick::RefusedWhileOpen:
        // Every opening, the page sender's too, goes on using the port in
        // use, so the box goes back to it rather than show another.
        form_.setPortText("COM" + std::to_string(state().PortNumber));
        break;
    }
}

void Shell::OpenUart_Click()
{
    if (state().PortOpenFlag != 0) {
        transfer_.closePort();
        form_.setOpenUartCaption("Uart:close");
        return;
    }
    if (state().PortNumber == 0) {
        form_.showMessage(messages::noPortListed(portsAboveRange_));
        return;
    }
    const CommResult opened = transfer_.openPort();
    if (!opened) {
        form_.showMessage(messages::openFailed(opened));
        return;
    }
    form_.setOpenUartCaption("Uart:open");
}

void Shell::ExitCommand_Click()
{
    // An open port is released with the component when the program ends.
    form_.closeMainWindow();
}

} // namespace isp
