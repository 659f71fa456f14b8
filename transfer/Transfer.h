#pragma once

#include "image/ImageLayout.h"
#include "serial/Clock.h"
#include "serial/SerialComponent.h"
#include "transfer/PageRequests.h"
#include "transfer/PageSender.h"
#include "transfer/ProgressDisplay.h"
#include "transfer/SharedState.h"
#include "transfer/Timer.h"

// The core every front end drives: the state the handlers share, the
// device's page requests and the page sender, and the user's commands on the
// port and the image. The window and the command line both answer the
// device through this one class, so they send byte for byte the same thing.
// A front end wires the timer's ticks and the component's notifications to
// sendPendingPage() and takeNotification() and tells its user what happened.
namespace isp {

class Transfer {
public:
    // All four must outlive the transfer.
    Transfer(SerialComponent& MSComm1, Timer& Timer1, ProgressDisplay& progress, Clock& clock);
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    SharedState& state() { return state_; }
    const SharedState& state() const { return state_; }

    // The starting values: nothing pending, no image, port closed, Timer1
    // stopped.
    void start();

    // Opens COM<PortNumber> to listen to the device: mark parity, a
    // notification after the first two characters, and the driver asked for
    // low latency (a USB adapter's latency timer at its shortest).
    // PortOpenFlag becomes 1 only if the opening succeeds.
    CommResult openPort();
    // Closes the port the user opened (whatever parity it was last opened
    // with) and clears PortOpenFlag.
    void closePort();

    // The user picks port n: taken while the port is closed.
    enum class Pick { Same, Taken, RefusedWhileOpen };
    Pick pickPort(int n);

    // A valid image replaces the whole image; the next page sent comes from
    // it. A refused one only stops further pages.
    void useImage(const ImageBytes& image);
    void refuseImage() { state_.FileLoadedFlag = 0; }

    // The tick of Timer1.
    PageSender::Result sendPendingPage() { return sender_.Timer1_Timer(); }
    // A notification of MSComm1.
    PageRequests::Outcome takeNotification() { return requests_.MSComm1_OnComm(); }

private:
    SharedState state_;
    SerialComponent& MSComm1_;
    Timer& Timer1_;
    PageSender sender_;
    PageRequests requests_;
};

} // namespace isp
