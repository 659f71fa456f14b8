#include "app/handlers/Messages.h"
#include "app/handlers/PortNumberText.h"
#include "app/handlers/Shell.h"

namespace isp {

void Shell::ComSelect_Change()
{
    const auto n = portNumberFromText(form_.portText());
    if (!n)
        return;
    if (transfer_.pickPort(*n) == Transfer::Pick::Taken)
        form_.setOpenUartCaption("Uart:close");
}

void Shell::OpenUart_Click()
{
    if (state().PortOpenFlag != 0) {
        transfer_.closePort();
        form_.setOpenUartCaption("Uart:close");
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
