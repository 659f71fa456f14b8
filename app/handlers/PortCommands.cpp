#include "app/handlers/Messages.h"
#include "app/handlers/PortNumberText.h"
#include "app/handlers/Shell.h"
#include "transfer/Protocol.h"

namespace isp {

void Shell::ComSelect_Change()
{
    const auto n = portNumberFromText(form_.portText());
    if (!n || *n == state_.PortNumber)
        return;
    // While the port is open the pick is ignored, and not remembered.
    if (state_.PortOpenFlag != 0)
        return;
    state_.PortNumber = static_cast<std::uint8_t>(*n);
    (void)MSComm1_.setPortOpen(false);
    state_.PortOpenFlag = 0;
    form_.setOpenUartCaption("Uart:close");
}

void Shell::OpenUart_Click()
{
    if (state_.PortOpenFlag != 0) {
        (void)MSComm1_.setPortOpen(false);
        state_.PortOpenFlag = 0;
        form_.setOpenUartCaption("Uart:close");
        requests_.forgetPartialRequest();
        return;
    }

    // Port 0 means start-up found no port; it names none, so stop before
    // the component is left pointing at the last port the scan tried.
    CommResult opened = MSComm1_.setCommPort(state_.PortNumber);
    if (opened) {
        opened = MSComm1_.setSettings(MarkSettings);
    }
    if (opened) {
        MSComm1_.setInBufferSize(LineBufferSize);
        MSComm1_.setOutBufferSize(LineBufferSize);
        MSComm1_.setInputLen(0);
        MSComm1_.setRThreshold(OpeningRThreshold);
        MSComm1_.setSThreshold(0);
        opened = MSComm1_.setPortOpen(true);
    }
    if (!opened) {
        form_.showMessage(messages::openFailed(opened));
        return;
    }
    requests_.forgetPartialRequest();
    state_.PortOpenFlag = 1;
    form_.setOpenUartCaption("Uart:open");
}

void Shell::ExitCommand_Click()
{
    // An open port is released with the component when the program ends.
    form_.closeMainWindow();
}

} // namespace isp
