#include "app/handlers/Shell.h"

#include "app/handlers/Messages.h"
#include "image/ImageFile.h"

namespace isp {

Shell::Shell(SerialComponent& MSComm1, Timer& Timer1, Form1View& form, Clock& clock)
    : MSComm1_(MSComm1), form_(form), transfer_(MSComm1, Timer1, form, clock), loadImage_(loadImageFile)
{
    Timer1.setOnTick([this] { Timer1_Timer(); });
    MSComm1_.setOnComm([this] { MSComm1_OnComm(); });
    form_.setEvents({
        .portTextChanged = [this] { ComSelect_Change(); },
        .openFileClicked = [this] { OpenFile_Click(); },
        .openUartClicked = [this] { OpenUart_Click(); },
        .exitClicked = [this] { ExitCommand_Click(); },
    });
}

void Shell::setImageLoader(ImageLoader loader)
{
    loadImage_ = std::move(loader);
}

void Shell::Timer1_Timer()
{
    const PageSender::Result result = transfer_.sendPendingPage();
    if (result.outcome == PageSender::Result::Outcome::Failed)
        dropPort(messages::lineFailed(result.failure));
}

void Shell::MSComm1_OnComm()
{
    const auto outcome = transfer_.takeNotification();
    if (outcome.kind == PageRequests::Outcome::Kind::DeviceGone && state().PortOpenFlag == 1)
        dropPort(messages::lineFailed(CommResult(commDeviceGone, "the device went away")));
}

void Shell::dropPort(const std::string& message)
{
    transfer_.closePort();
    form_.setOpenUartCaption("Uart:close");
    form_.showMessage(message);
}

} // namespace isp
