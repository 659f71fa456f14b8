#include "app/handlers/Shell.h"

#include "app/handlers/Messages.h"
#include "image/ImageFile.h"

namespace isp {

Shell::Shell(SerialComponent& MSComm1, Timer& Timer1, Form1View& form, Clock& clock)
    : MSComm1_(MSComm1),
      Timer1_(Timer1),
      form_(form),
      sender_(state_, MSComm1, Timer1, form, clock),
      requests_(state_, MSComm1, Timer1),
      loadImage_(loadImageFile)
{
    Timer1_.setOnTick([this] { Timer1_Timer(); });
    MSComm1_.setOnComm([this] { MSComm1_OnComm(); });
    form_.setOnPortTextChanged([this] { ComSelect_Change(); });
}

void Shell::setImageLoader(ImageLoader loader)
{
    loadImage_ = std::move(loader);
}

void Shell::Timer1_Timer()
{
    const PageSender::Result result = sender_.Timer1_Timer();
    if (result.outcome == PageSender::Result::Outcome::Failed)
        dropPort(messages::lineFailed(result.failure));
}

void Shell::MSComm1_OnComm()
{
    if (requests_.MSComm1_OnComm() == PageRequests::Outcome::DeviceGone && state_.PortOpenFlag == 1)
        dropPort(messages::lineFailed(CommResult(commDeviceGone, "the device went away")));
}

void Shell::dropPort(const std::string& message)
{
    (void)MSComm1_.setPortOpen(false);
    state_.PortOpenFlag = 0;
    form_.setOpenUartCaption("Uart:close");
    requests_.forgetPartialRequest();
    form_.showMessage(message);
}

} // namespace isp
