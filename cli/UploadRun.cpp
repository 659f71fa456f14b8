#include "cli/UploadRun.h"

#include "cli/Failures.h"

namespace isp::cli {

UploadRun::UploadRun(
    EventLoop& loop, SerialComponent& MSComm1, Timer& Timer1, UploadEvents& events, UploadSettings settings)
    : loop_(loop),
      clock_(loop.clock()),
      MSComm1_(MSComm1),
      Timer1_(Timer1),
      events_(events),
      settings_(settings),
      transfer_(MSComm1, Timer1, noProgressBar_, loop.clock())
{
    Timer1_.setOnTick([this] { Timer1_Timer(); });
    MSComm1_.setOnComm([this] { MSComm1_OnComm(); });
}

UploadRun::~UploadRun()
{
    loop_.cancel(deadlineTask_);
    loop_.cancel(reminderTask_);
    Timer1_.setOnTick({});
    MSComm1_.setOnComm({});
}

void UploadRun::start(int port, const ImageBytes& image)
{
    transfer_.start();
    transfer_.state().PortNumber = static_cast<std::uint8_t>(port);
    transfer_.useImage(image);
    const CommResult opened = transfer_.openPort();
    if (!opened) {
        const Failure failure = openingFailed(opened, MSComm1_.portLocation(port), MSComm1_.portName(port));
        events_.failed(failure);
        result_ = failure.status;
        return;
    }
    tracker_.emplace(settings_.rules, events_, clock_.now());
    events_.waiting(1, false);
    afterEvent();
}

void UploadRun::MSComm1_OnComm()
{
    if (finished())
        return;
    const PageRequests::Outcome outcome = transfer_.takeNotification();
    const Clock::TimePoint now = clock_.now();
    using Kind = PageRequests::Outcome::Kind;
    switch (outcome.kind) {
    case Kind::NotReceive: return;
    case Kind::DeviceGone:
        fail(lineFailed(
            CommResult(commDeviceGone, "the device of " + MSComm1_.portName(MSComm1_.CommPort()) + " went away")));
        return;
    case Kind::Incomplete: tracker_->charactersArrived(now); break;
    case Kind::OutOfLimits: tracker_->requestIgnored(outcome.request, now); break;
    case Kind::Armed: tracker_->requestArrived(transfer_.state().PageNumber, now); break;
    }
    afterEvent();
}

void UploadRun::Timer1_Timer()
{
    if (finished())
        return;
    // The whole page leaves inside this call: header, frame and the pause
    // after it. An interruption is seen only once it has returned.
    const PageSender::Result sent = transfer_.sendPendingPage();
    switch (sent.outcome) {
    case PageSender::Result::Outcome::Skipped: return;
    case PageSender::Result::Outcome::Failed: fail(lineFailed(sent.failure)); return;
    case PageSender::Result::Outcome::Sent: tracker_->pageSent(sent.page, clock_.now()); break;
    }
    afterEvent();
}

void UploadRun::afterEvent()
{
    if (const auto result = tracker_->result()) {
        stopLine();
        finish(*result);
        return;
    }
    loop_.cancel(deadlineTask_);
    deadlineTask_ = 0;
    if (const auto deadline = tracker_->nextDeadline()) {
        deadlineTask_ = loop_.runAt(*deadline, [this] {
            deadlineTask_ = 0;
            tracker_->check(clock_.now());
            afterEvent();
        });
    }
    const bool awaitingFirstBoard = !tracker_->boardActive() && tracker_->board() == 1;
    if (!awaitingFirstBoard) {
        loop_.cancel(reminderTask_);
        reminderTask_ = 0;
    } else if (reminderTask_ == 0) {
        reminderTask_ = loop_.runAt(clock_.now() + settings_.reminderEvery, [this] {
            reminderTask_ = 0;
            remindWaiting();
        });
    }
}

void UploadRun::remindWaiting()
{
    events_.waiting(1, true);
    afterEvent();
}

void UploadRun::interrupt()
{
    if (finished())
        return;
    // Drained and closed before the summary is told.
    stopLine();
    if (!tracker_) {
        result_ = ExitStatus::Interrupted;
        return;
    }
    tracker_->end(interrupted(whatWasDone()));
    finish(ExitStatus::Interrupted);
}

void UploadRun::fail(const Failure& failure)
{
    stopLine();
    tracker_->end(failure);
    finish(failure.status);
}

void UploadRun::stopLine()
{
    Timer1_.setEnabled(false);
    transfer_.closePort();
}

void UploadRun::finish(ExitStatus result)
{
    loop_.cancel(deadlineTask_);
    loop_.cancel(reminderTask_);
    deadlineTask_ = 0;
    reminderTask_ = 0;
    result_ = result;
}

std::string UploadRun::whatWasDone() const
{
    std::string text;
    if (tracker_->boardActive())
        text = "board " + std::to_string(tracker_->board()) + " had " + countOf(tracker_->record().pagesSent(), "page")
            + " of " + std::to_string(PageCount);
    else if (!settings_.rules.loop || tracker_->boardsFinished() == 0)
        text = "no page was asked for";
    else
        text = countOf(tracker_->boardsFinished(), "board") + " served, " + std::to_string(tracker_->boardsComplete())
            + " of them complete";
    return text + "; the port is closed";
}

} // namespace isp::cli
