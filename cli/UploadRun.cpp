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
      settings_(std::move(settings)),
      transfer_(MSComm1, Timer1, noProgressBar_, loop.clock())
{
    Timer1_.setOnTick([this] { Timer1_Timer(); });
    MSComm1_.setOnComm([this] { MSComm1_OnComm(); });
}

UploadRun::~UploadRun()
{
    loop_.cancel(deadlineTask_);
    loop_.cancel(reminderTask_);
    loop_.cancel(lookTask_);
    Timer1_.setOnTick({});
    MSComm1_.setOnComm({});
}

void UploadRun::start(int port, const ImageBytes& image)
{
    transfer_.start();
    transfer_.state().PortNumber = static_cast<std::uint8_t>(port);
    transfer_.useImage(image);
    const CommResult opened = transfer_.openPort();
    // A board with a USB port of its own has no port until it is put on the
    // fixture: with --loop its port is awaited like one that went away.
    const bool awaitPort = !opened && settings_.rules.loop && opened.number() == commNoSuchPort;
    if (!opened && !awaitPort) {
        const Failure failure = openingFailed(opened, MSComm1_.portLocation(port), MSComm1_.portName(port));
        events_.failed(failure);
        result_ = failure.status;
        return;
    }
    tracker_.emplace(settings_.rules, events_, clock_.now(), !awaitPort);
    events_.waiting({1, false, awaitPort});
    if (awaitPort)
        lookForPortSoon();
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
        portFailed(lineFailed(CommResult(
                       commDeviceGone, "the device of " + MSComm1_.portName(MSComm1_.CommPort()) + " went away")),
            true);
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
    case PageSender::Result::Outcome::Failed: {
        // A reopening between header and frame finds the node gone once the
        // device is unplugged: the same loss, seen a moment later.
        const int number = sent.failure.number();
        portFailed(lineFailed(sent.failure), number == commDeviceGone || number == commNoSuchPort);
        return;
    }
    case PageSender::Result::Outcome::Sent: tracker_->pageSent(sent.page, clock_.now()); break;
    }
    afterEvent();
}

void UploadRun::strayCharacters(int count)
{
    if (tracker_ && !finished())
        tracker_->strayCharacters(count);
}

void UploadRun::afterEvent()
{
    if (finished())
        return;
    if (const auto result = tracker_->result()) {
        stopLine();
        finish(*result);
        return;
    }
    // Every event's record has been written by now; if the reader of it has
    // gone, no further board is taken.
    if (settings_.outputLost && settings_.outputLost()) {
        stop(outputLost(settings_.outputName, whatWasDone()));
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
    events_.waiting({1, true, !tracker_->portPresent()});
    afterEvent();
}

void UploadRun::interrupt(ExitStatus status)
{
    if (finished())
        return;
    if (!tracker_) {
        stopLine();
        result_ = status;
        return;
    }
    stop(interrupted(whatWasDone(), status));
}

void UploadRun::portFailed(const Failure& failure, bool gone)
{
    stopLine();
    tracker_->portFailed(failure, gone, clock_.now());
    if (!tracker_->result())
        lookForPortSoon();
    afterEvent();
}

void UploadRun::lookForPortSoon()
{
    loop_.cancel(lookTask_);
    lookTask_ = loop_.runAt(clock_.now() + settings_.portLookEvery, [this] {
        lookTask_ = 0;
        lookForPort();
    });
}

void UploadRun::lookForPort()
{
    if (finished())
        return;
    if (settings_.lookForPort && !settings_.lookForPort()) {
        lookForPortSoon();
        return;
    }
    const CommResult opened = transfer_.openPort();
    if (opened) {
        portTroubleTold_ = 0;
        tracker_->portBack();
        afterEvent();
        return;
    }
    // A port that has just come back may still be udev's (its group not yet
    // set) or probed by ModemManager: said once, and tried again.
    if (opened.number() != commNoSuchPort && opened.number() != portTroubleTold_) {
        portTroubleTold_ = opened.number();
        events_.warning("the port is back, but does not open yet (" + clause(opened.text()) + "); trying again");
    }
    lookForPortSoon();
}

void UploadRun::stop(const Failure& failure)
{
    // Drained and closed before the summary is told.
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
    loop_.cancel(lookTask_);
    deadlineTask_ = 0;
    reminderTask_ = 0;
    lookTask_ = 0;
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
