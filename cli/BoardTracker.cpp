#include "cli/BoardTracker.h"

#include "cli/Failures.h"

namespace isp::cli {

BoardTracker::BoardTracker(BoardRules rules, UploadEvents& events, Clock::TimePoint start, bool portPresent)
    : rules_(rules), events_(events), portPresent_(portPresent), waitingSince_(start), lastActivity_(start)
{
}

bool BoardTracker::startsNextBoard(int page, Clock::TimePoint now) const
{
    if (!rules_.loop || !active_ || page != 0)
        return false;
    // A board that had every page and asks for the first one again is the
    // next board (its boot loader starts at page 0); so is a board that
    // starts over after a pause, having been swapped or reset. One that
    // asks for page 0 again before it got further only missed the answer.
    return record_.complete() || (record_.sentOtherThan(0) && now - lastActivity_ >= rules_.idle);
}

bool BoardTracker::isLate(int page) const
{
    // A new board starts at page 0; any other page is asked for by the
    // board before, which asks again for an answer it lost, or goes on
    // after a pause longer than the stall time.
    return rules_.loop && !active_ && boardsFinished() > 0 && page != 0;
}

void BoardTracker::requestArrived(int page, Clock::TimePoint now)
{
    if (result_)
        return;
    if (isLate(page)) {
        ended_.requestArrived(page, now);
        latePage_ = page;
        return;
    }
    if (startsNextBoard(page, now))
        finishBoard(record_.complete() ? ExitStatus::Ok : ExitStatus::PagesMissing, now);
    if (!active_)
        startBoard(page);
    record_.requestArrived(page, now);
    lastActivity_ = now;
}

void BoardTracker::requestIgnored(const std::string& request, Clock::TimePoint now)
{
    if (result_)
        return;
    record_.requestIgnored();
    events_.requestIgnored(board_, request);
    lastActivity_ = now;
}

void BoardTracker::charactersArrived(Clock::TimePoint now)
{
    lastActivity_ = now;
}

void BoardTracker::strayCharacters(int count)
{
    if (!result_)
        record_.strayCharacters(count);
}

void BoardTracker::pageSent(int page, Clock::TimePoint now)
{
    if (result_)
        return;
    if (!active_ && latePage_ == page) {
        latePage_.reset();
        const bool resent = ended_.pageSent(page, now);
        events_.pageSent({board_ - 1, page, resent, ended_.pagesSent(), true});
        return;
    }
    // Only a request arms a page, and a request starts the board; this
    // covers a board ended by the clock in the 20 ms before its page.
    if (!active_)
        startBoard(page);
    const bool resent = record_.pageSent(page, now);
    events_.pageSent({board_, page, resent, record_.pagesSent()});
    lastActivity_ = now;
}

void BoardTracker::portFailed(Failure failure, bool gone, Clock::TimePoint now)
{
    if (result_)
        return;
    const bool wasPresent = portPresent_;
    portPresent_ = false;
    if (active_ && gone && record_.complete()) {
        finishBoard(ExitStatus::Ok, now, true);
        return;
    }
    if (active_) {
        const ExitStatus status = failure.status;
        const std::vector<PageRange> neverSent = record_.summarize(board_, status).neverSent;
        failure.message += "; " + countOf(pagesIn(neverSent), "page") + " of " + std::to_string(PageCount)
            + " never sent: " + describePageRanges(neverSent);
        finishBoard(status, now, gone, std::move(failure));
        return;
    }
    if (rules_.loop) {
        // One loss may be seen twice (by the page being sent, then by the
        // line's own report): the port is awaited once.
        if (wasPresent)
            events_.waiting({board_, false, true});
        return;
    }
    end(std::move(failure));
}

void BoardTracker::portBack()
{
    portPresent_ = true;
    if (!result_)
        events_.waiting({board_, false, false});
}

void BoardTracker::check(Clock::TimePoint now)
{
    if (result_)
        return;
    if (active_) {
        const Clock::Duration silence = now - lastActivity_;
        if (record_.complete() && silence >= rules_.idle)
            finishBoard(ExitStatus::Ok, now);
        else if (!record_.complete() && silence >= rules_.stall)
            finishBoard(ExitStatus::PagesMissing, now);
        return;
    }
    if (board_ == 1 && rules_.firstRequest && now - waitingSince_ >= *rules_.firstRequest) {
        events_.failed(noFirstRequest(*rules_.firstRequest, record_.requestsIgnored()));
        events_.summary(record_.summarize(board_, ExitStatus::NoFirstRequest));
        result_ = ExitStatus::NoFirstRequest;
    }
}

std::optional<Clock::TimePoint> BoardTracker::nextDeadline() const
{
    if (result_)
        return std::nullopt;
    if (active_)
        return lastActivity_ + (record_.complete() ? rules_.idle : rules_.stall);
    if (board_ == 1 && rules_.firstRequest)
        return waitingSince_ + *rules_.firstRequest;
    return std::nullopt;
}

void BoardTracker::end(Failure failure)
{
    if (result_)
        return;
    failure.board = active_ ? board_ : 0;
    events_.failed(failure);
    // Between boards of a loop every board has had its summary already.
    if (active_ || !rules_.loop)
        events_.summary(record_.summarize(board_, failure.status));
    result_ = failure.status;
}

void BoardTracker::startBoard(int firstPage)
{
    active_ = true;
    events_.boardStarted(board_, firstPage);
}

void BoardTracker::finishBoard(
    ExitStatus result, Clock::TimePoint now, bool portWentAway, std::optional<Failure> failure)
{
    BoardSummary summary = record_.summarize(board_, result);
    summary.portWentAway = portWentAway;
    if (result == ExitStatus::Ok) {
        ++boardsComplete_;
        events_.boardDone(summary);
    } else if (failure) {
        failure->board = board_;
        events_.failed(*failure);
    } else {
        events_.failed(pagesMissing(summary, now - lastActivity_));
    }
    events_.summary(summary);
    if (!rules_.loop) {
        result_ = result;
        return;
    }
    ++board_;
    ended_ = record_;
    latePage_.reset();
    record_ = {};
    active_ = false;
    waitingSince_ = now;
    events_.waiting({board_, false, !portPresent_});
}

} // namespace isp::cli
