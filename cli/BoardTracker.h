#pragma once

#include "cli/BoardRecord.h"
#include "cli/UploadEvents.h"
#include "serial/Clock.h"

#include <chrono>
#include <optional>
#include <string>

// When a board is done, and where the next one starts. The device never says
// that it has all it wanted: it simply stops asking. So a board is done once
// every page 0 .. 223 has been sent at least once and then the line has been
// silent for the idle time; a device that falls silent before that has given
// up, which is told after the longer stall time.
//
// With --loop the boards come one after another on the same port. A board
// starts with its first request. One that is done is followed by the next
// board's first request, whatever page it asks for; a board also ends, and
// the next begins, when it asks for page 0 again once it had every page, or
// after a silence of at least the idle time (a board swapped in the middle of
// its upload, or reset) once it had got beyond page 0.
//
// A plain class driven by events and the time they happened, so that the
// rules can be tried on simulated time; it tells the reporters what it
// decides.
namespace isp::cli {

struct BoardRules {
    // Silence after every page was sent that means the board is done.
    Clock::Duration idle = std::chrono::seconds(1);
    // Silence before every page was sent that means the device gave up.
    Clock::Duration stall = std::chrono::seconds(5);
    // How long the first board may take to ask for its first page; none:
    // as long as it takes.
    std::optional<Clock::Duration> firstRequest;
    bool loop = false;
};

class BoardTracker {
public:
    // `start`: when the port opened and the waiting began.
    BoardTracker(BoardRules rules, UploadEvents& events, Clock::TimePoint start);

    // A request for a page within the limits.
    void requestArrived(int page, Clock::TimePoint now);
    // A request beyond the limits (the characters as received).
    void requestIgnored(const std::string& request, Clock::TimePoint now);
    // Characters that make no request (yet): the line is not silent.
    void charactersArrived(Clock::TimePoint now);
    void pageSent(int page, Clock::TimePoint now);

    // Applies the time rules; call at nextDeadline() or later.
    void check(Clock::TimePoint now);
    // When check() may next decide something; none while only an event can.
    std::optional<Clock::TimePoint> nextDeadline() const;

    // The upload ends for a reason outside the rules (interrupted, the port
    // failed): reports the failure and the summary of the board on hand.
    void end(Failure failure);

    // Once the upload is over (without --loop: the board is done or failed;
    // with it: ended from outside or no first request): how it ended.
    std::optional<ExitStatus> result() const { return result_; }
    bool boardActive() const { return active_; }
    // The board asking now, or the number the next board will get.
    int board() const { return board_; }
    int boardsFinished() const { return board_ - 1; }
    int boardsComplete() const { return boardsComplete_; }
    const BoardRecord& record() const { return record_; }

private:
    void startBoard(int firstPage);
    void finishBoard(ExitStatus result, Clock::TimePoint now);
    // With --loop: whether a request for `page` starts the next board.
    bool startsNextBoard(int page, Clock::TimePoint now) const;

    BoardRules rules_;
    UploadEvents& events_;
    BoardRecord record_;
    int board_ = 1;
    bool active_ = false;
    int boardsComplete_ = 0;
    Clock::TimePoint waitingSince_;
    Clock::TimePoint lastActivity_;
    std::optional<ExitStatus> result_;
};

} // namespace isp::cli
