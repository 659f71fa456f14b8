#pragma once

#include "cli/BoardTracker.h"
#include "cli/UploadEvents.h"
#include "serial/EventLoop.h"
#include "serial/SerialComponent.h"
#include "transfer/ProgressDisplay.h"
#include "transfer/Timer.h"
#include "transfer/Transfer.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// One run of the upload command on any event loop: the core (Transfer)
// answers the device exactly as the window does, wired the way the window
// wires it (the timer's tick sends the pending page, the component's
// notification takes the request), while a BoardTracker decides when a board
// is done and the reporters hear of every step. It runs on the system's
// serial line and real time in the program, and on the simulated line and
// simulated time in the tests.
namespace isp::cli {

struct UploadSettings {
    BoardRules rules;
    // How often "waiting for the device" is said again while the first board
    // is awaited.
    Clock::Duration reminderEvery = std::chrono::seconds(5);
    // With --loop, how often a port that is not there is looked for. A board
    // whose port comes back asks for its first page at once; a request
    // before the opening is lost and asked again.
    Clock::Duration portLookEvery = std::chrono::milliseconds(100);
    // Looks for the port again (a link followed anew): whether it is there
    // to be opened. None: try opening it.
    std::function<bool()> lookForPort;
    // Whether the output that keeps the record of the boards (stdout) is
    // lost, its reader gone; and what it is, for saying so.
    std::function<bool()> outputLost;
    std::string outputName = "stdout";
};

class UploadRun {
public:
    // Connects itself to the component's notifications and the timer's
    // ticks. All four must outlive the run.
    UploadRun(EventLoop& loop, SerialComponent& MSComm1, Timer& Timer1, UploadEvents& events, UploadSettings settings);
    ~UploadRun();
    UploadRun(const UploadRun&) = delete;
    UploadRun& operator=(const UploadRun&) = delete;

    // Opens COM<port> to listen to the device and answers it from then on
    // with pages of `image`. If the port does not open, the failure is
    // reported and the run is finished at once; with --loop a port that is
    // not there is awaited instead.
    void start(int port, const ImageBytes& image);

    // Ctrl-C, SIGTERM, SIGHUP (`status` says which): no page is started from
    // now on (one being sent was finished by the task that sent it, before
    // this runs), the port is drained and closed, and the summary tells what
    // was done.
    void interrupt(ExitStatus status = ExitStatus::Interrupted);
    // Characters the port dropped as part of no request (line noise).
    void strayCharacters(int count);

    bool finished() const { return result_.has_value(); }
    // Valid once finished.
    ExitStatus exitStatus() const { return result_.value_or(ExitStatus::Failure); }

private:
    // The page sender needs a progress bar; the reporters follow the pages
    // through the tracker instead.
    struct NoProgressBar final : ProgressDisplay {
        void setProgressRange(int, int) override {}
        void setProgressValue(int) override {}
    };

    void MSComm1_OnComm();
    void Timer1_Timer();
    // After every event: end the run if the tracker says the upload is
    // over, otherwise look again when its rules next may decide something.
    void afterEvent();
    void remindWaiting();
    // The port failed or went away: the tracker says what that means for
    // the board; with --loop the port is then looked for until it is back.
    void portFailed(const Failure& failure, bool gone);
    void lookForPortSoon();
    void lookForPort();
    // The upload stops for a reason outside the boards.
    void stop(const Failure& failure);
    // No more ticks, the port drained and closed.
    void stopLine();
    // The run's result, once the line is stopped.
    void finish(ExitStatus result);
    std::string whatWasDone() const;

    EventLoop& loop_;
    Clock& clock_;
    SerialComponent& MSComm1_;
    Timer& Timer1_;
    UploadEvents& events_;
    UploadSettings settings_;
    NoProgressBar noProgressBar_;
    Transfer transfer_;
    std::optional<BoardTracker> tracker_;
    std::optional<ExitStatus> result_;
    EventLoop::Id deadlineTask_ = 0;
    EventLoop::Id reminderTask_ = 0;
    EventLoop::Id lookTask_ = 0;
    int portTroubleTold_ = 0; // the failure last told while the port is back but does not open
};

} // namespace isp::cli
