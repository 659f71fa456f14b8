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
// up, which is told after the longer stall time. A boot loader that lost an
// answer asks for the page again after a time-out of its own, so the idle
// time must be longer than that: such a request belongs to its board.
//
// There are two kinds of board. One behind an adapter that stays (FTDI,
// CH340, ...) falls silent once it has every page. One with a USB port of
// its own (/dev/ttyACM*, a COM port of its own on Windows) starts the new
// firmware once it has every page, and its port goes away with it: a board
// that had every page when its port went away is done at once.
//
// With --loop the boards come one after another on the same port, which may
// go away after each board and come back with the next. The first board
// starts with its first request, whatever page it asks for; every later one
// with a request for page 0, as a boot loader starts. A board also ends, and
// the next begins, when it asks for page 0 again once it had every page, or
// after a silence of at least the idle time (a board swapped in the middle of
// its upload, or reset) once it had got beyond page 0. A request for another
// page once a board has ended is that board's, late: it is answered and told
// as the board's, after its summary.
//
// A plain class driven by events and the time they happened, so that the
// rules can be tried on simulated time; it tells the reporters what it
// decides.
namespace isp::cli {

struct BoardRules {
    // Silence after every page was sent that means the board is done. Twice
    // the 1.5 s after which a boot loader was measured to ask again for a
    // page whose answer it lost.
    Clock::Duration idle = std::chrono::seconds(3);
    // Silence before every page was sent that means the device gave up.
    Clock::Duration stall = std::chrono::seconds(5);
    // How long the first board may take to ask for its first page; none:
    // as long as it takes.
    std::optional<Clock::Duration> firstRequest;
    bool loop = false;
};

class BoardTracker {
public:
    // `start`: when the waiting began; `portPresent`: whether the port was
    // open then (with --loop a port that is not there yet is awaited).
    BoardTracker(BoardRules rules, UploadEvents& events, Clock::TimePoint start, bool portPresent = true);

    // A request for a page within the limits.
    void requestArrived(int page, Clock::TimePoint now);
    // A request beyond the limits (the characters as received).
    void requestIgnored(const std::string& request, Clock::TimePoint now);
    // Characters that make no request (yet): the line is not silent.
    void charactersArrived(Clock::TimePoint now);
    // Characters the port dropped as part of no request (line noise).
    void strayCharacters(int count);
    void pageSent(int page, Clock::TimePoint now);

    // The port failed under the upload; `gone`: its device went away. A
    // board that had every page when its port went away is done; otherwise
    // the board on hand fails with `failure`, its pages never sent named.
    // Without --loop the upload ends; with it the port is awaited.
    void portFailed(Failure failure, bool gone, Clock::TimePoint now);
    // With --loop: the port is open again, and the next board is awaited.
    void portBack();

    // Applies the time rules; call at nextDeadline() or later.
    void check(Clock::TimePoint now);
    // When check() may next decide something; none while only an event can.
    std::optional<Clock::TimePoint> nextDeadline() const;

    // The upload ends for a reason outside the rules (interrupted, stdout
    // lost): reports the failure and the summary of the board on hand.
    void end(Failure failure);

    // Once the upload is over (without --loop: the board is done or failed;
    // with it: ended from outside or no first request): how it ended.
    std::optional<ExitStatus> result() const { return result_; }
    bool boardActive() const { return active_; }
    bool portPresent() const { return portPresent_; }
    // The board asking now, or the number the next board will get.
    int board() const { return board_; }
    int boardsFinished() const { return board_ - 1; }
    int boardsComplete() const { return boardsComplete_; }
    const BoardRecord& record() const { return record_; }

private:
    void startBoard(int firstPage);
    // The board on hand ends: done (Ok), or failed with `failure` (the
    // pages missing when none is given).
    void finishBoard(ExitStatus result, Clock::TimePoint now, bool portWentAway = false,
        std::optional<Failure> failure = std::nullopt);
    // With --loop: whether a request for `page` starts the next board.
    bool startsNextBoard(int page, Clock::TimePoint now) const;
    // With --loop: whether a request for `page` is one of the board that
    // ended last.
    bool isLate(int page) const;

    BoardRules rules_;
    UploadEvents& events_;
    BoardRecord record_;
    BoardRecord ended_; // the board that ended last, for its late requests
    std::optional<int> latePage_;
    int board_ = 1;
    bool active_ = false;
    bool portPresent_ = true;
    int boardsComplete_ = 0;
    Clock::TimePoint waitingSince_;
    Clock::TimePoint lastActivity_;
    std::optional<ExitStatus> result_;
};

} // namespace isp::cli
