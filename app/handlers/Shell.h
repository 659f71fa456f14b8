#pragma once

#include "app/handlers/Form1View.h"
#include "serial/Clock.h"
#include "serial/SerialComponent.h"
#include "transfer/SharedState.h"
#include "transfer/Timer.h"
#include "transfer/Transfer.h"

#include <functional>
#include <string>
#include <vector>

// The main window's event handlers, free of widgets. Each is named after its
// control and event and runs to its end on the user-interface thread; they
// drive the core (Transfer) and tell the user what happened.
namespace isp {

struct ImageLoadResult;
using ImageLoader = std::function<ImageLoadResult(const std::string& path)>;

class Shell {
public:
    // Connects itself to the timer's ticks, the component's notifications and
    // every event of the main window. All four must outlive the shell.
    Shell(SerialComponent& MSComm1, Timer& Timer1, Form1View& form, Clock& clock);
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // Loading of the main window: port scan and the state's starting values.
    void Form1_Load();
    // The port box's text changed (the user's pick, or start-up).
    void ComSelect_Change();
    // "Uart:close" / "Uart:open": opens or closes the chosen port.
    void OpenUart_Click();
    // "exit": closes the main window, which ends the program.
    void ExitCommand_Click();
    // "open file": asks for an image and reads it.
    void OpenFile_Click();
    // Tick of Timer1: sends the pending page.
    void Timer1_Timer();
    // Notification of MSComm1: the device's page requests.
    void MSComm1_OnComm();

    SharedState& state() { return transfer_.state(); }
    const SharedState& state() const { return transfer_.state(); }

    // Replaces how an image file is read (tests inject slow or failing reads).
    void setImageLoader(ImageLoader loader);

private:
    // The port is no longer usable: close it, show Closed, tell the user.
    void dropPort(const std::string& message);

    SerialComponent& MSComm1_;
    Form1View& form_;
    Transfer transfer_;
    ImageLoader loadImage_;
    // With no port listed: the ports the system had above COM16 at start-up.
    std::vector<int> portsAboveRange_;
};

} // namespace isp
