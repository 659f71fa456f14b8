// When a board is done, when the device has given up, and where the next
// board starts, on made-up times.
#include "cli/BoardTracker.h"
#include "tests/cli/RecordedEvents.h"

#include <gtest/gtest.h>

using namespace isp;
using namespace isp::cli;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

using Strings = std::vector<std::string>;

class Board : public ::testing::Test {
protected:
    Clock::TimePoint at(Clock::Duration offset) const { return Clock::TimePoint{} + offset; }

    // The device asks for each page in turn from `start` on, gets it 30 ms
    // later and asks for the next 3 ms after that. Returns when the last
    // page was sent.
    Clock::Duration uploadPages(BoardTracker& tracker, int from, int to, Clock::Duration start)
    {
        Clock::Duration now = start;
        for (int page = from; page <= to; ++page) {
            if (page != from)
                now += 3ms;
            tracker.requestArrived(page, at(now));
            now += 30ms;
            tracker.pageSent(page, at(now));
        }
        return now;
    }

    // Runs the tracker's deadlines as the run would, up to `end`.
    void runDeadlinesUntil(BoardTracker& tracker, Clock::Duration end)
    {
        while (const auto deadline = tracker.nextDeadline()) {
            if (*deadline > at(end))
                return;
            tracker.check(*deadline);
        }
    }

    BoardRules rules(bool loop = false) const
    {
        BoardRules r;
        r.idle = 1s;
        r.stall = 5s;
        r.loop = loop;
        return r;
    }

    RecordedEvents events;
};

} // namespace

TEST_F(Board, IsDoneOnlyAfterEveryPageAndThenSilenceForTheIdleTime)
{
    BoardTracker tracker(rules(), events, at(0s));
    Clock::Duration now = uploadPages(tracker, 0, 222, 0s);
    // A pause longer than the idle time before the last page is not the end.
    tracker.check(at(now + 4s));
    EXPECT_FALSE(tracker.result());
    now = uploadPages(tracker, 223, 223, now + 4s);
    // A request for a page the board already has keeps it going.
    now = uploadPages(tracker, 17, 17, now + 900ms);
    tracker.check(at(now + 999ms));
    EXPECT_FALSE(tracker.result());
    const std::size_t before = events.lines.size();
    tracker.check(at(now + 1s));

    ASSERT_EQ(tracker.result(), ExitStatus::Ok);
    EXPECT_EQ(events.since(before), (Strings{"done 1", "summary 1 ok"}));
    EXPECT_EQ(events.lines.front(), "started 1 at 0");
    EXPECT_EQ(events.lines[events.lines.size() - 3], "resent 1:17");
    const BoardSummary& summary = events.lastSummary;
    EXPECT_EQ(summary.pagesSent, 224);
    EXPECT_EQ(summary.answers, 225);
    EXPECT_EQ(summary.resent, (std::vector<PageRange>{{17, 17}}));
    EXPECT_EQ(summary.askedAgain, (std::vector<PageRange>{{17, 17}}));
    EXPECT_TRUE(summary.neverSent.empty());
    EXPECT_EQ(summary.duration, now - 0s) << "first request to last page";
}

TEST_F(Board, ThatFallsSilentEarlyFailsAfterTheStallTimeNamingThePagesNeverSent)
{
    BoardTracker tracker(rules(), events, at(0s));
    Clock::Duration now = uploadPages(tracker, 0, 99, 0s);
    tracker.requestArrived(150, at(now)); // asked for, never answered
    tracker.requestIgnored("PGqq", at(now + 10ms));
    ASSERT_EQ(tracker.nextDeadline(), at(now + 10ms + 5s));
    runDeadlinesUntil(tracker, now + 1min);

    ASSERT_EQ(tracker.result(), ExitStatus::PagesMissing);
    EXPECT_EQ(events.since(events.lines.size() - 3),
        (Strings{"ignored 1", "failed pages-missing 1", "summary 1 pages-missing"}));
    EXPECT_EQ(
        events.lastFailure.message, "The device has been silent for 5 s with 124 pages of 224 never sent: 100-223");
    const BoardSummary& summary = events.lastSummary;
    EXPECT_EQ(summary.neverSent, (std::vector<PageRange>{{100, 223}}));
    EXPECT_EQ(summary.neverAsked, (std::vector<PageRange>{{100, 149}, {151, 223}}));
    EXPECT_EQ(summary.requestsIgnored, 1);
    EXPECT_EQ(summary.requests, 101);
}

TEST_F(Board, CharactersThatMakeNoRequestStillMeanTheLineIsNotSilent)
{
    BoardTracker tracker(rules(), events, at(0s));
    const Clock::Duration now = uploadPages(tracker, 0, 223, 0s);
    tracker.charactersArrived(at(now + 800ms));
    tracker.check(at(now + 1s));
    EXPECT_FALSE(tracker.result());
    EXPECT_EQ(tracker.nextDeadline(), at(now + 1800ms));
}

TEST_F(Board, WithoutAFirstRequestInTimeEndsWithItsOwnStatus)
{
    BoardRules timed = rules();
    timed.firstRequest = 2s;
    BoardTracker tracker(timed, events, at(10s));
    // Requests beyond the limits are no first request.
    tracker.requestIgnored("PGqq", at(11s));
    EXPECT_EQ(tracker.nextDeadline(), at(12s));
    runDeadlinesUntil(tracker, 1min);

    ASSERT_EQ(tracker.result(), ExitStatus::NoFirstRequest);
    EXPECT_EQ(events.lines, (Strings{"ignored 1", "failed no-first-request 0", "summary 1 no-first-request"}));
    EXPECT_NE(events.lastFailure.message.find("1 request beyond the page limits was ignored"), std::string::npos);

    // Without a limit it waits as long as it takes.
    RecordedEvents patient;
    BoardTracker untimed(rules(), patient, at(0s));
    EXPECT_FALSE(untimed.nextDeadline());
}

TEST_F(Board, InALoopTheFirstBoardStartsAnywhereTheNextAtPage0AndALateRequestIsTheBoardBefores)
{
    BoardTracker tracker(rules(true), events, at(0s));
    // The program may be started in the middle of an upload: board 1 starts
    // with whatever page it asks for first. Done by silence.
    Clock::Duration now = uploadPages(tracker, 5, 223, 0s);
    now = uploadPages(tracker, 0, 4, now);
    runDeadlinesUntil(tracker, now + 10s);
    // A request for page 223 after the idle time: board 1 asking again for
    // an answer it lost, answered and told as board 1's, not a board that
    // starts at page 223 and misses pages 0-222.
    now = uploadPages(tracker, 223, 223, now + 1500ms);
    EXPECT_EQ(events.lines.back(), "resent 1:223 after end");
    EXPECT_FALSE(tracker.boardActive());
    // Board 2 starts at page 0, had every page and asks for page 0 at once:
    // board 3.
    now = uploadPages(tracker, 0, 223, now + 20s);
    const std::size_t before = events.lines.size();
    now = uploadPages(tracker, 0, 0, now);

    EXPECT_EQ(events.since(before), (Strings{"done 2", "summary 2 ok", "waiting 3", "started 3 at 0", "sent 3:0"}));
    EXPECT_EQ(tracker.board(), 3);
    EXPECT_EQ(tracker.boardsComplete(), 2);
    EXPECT_FALSE(tracker.result()) << "a loop never ends by itself";
    EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "started 1 at 5"), 1);
    EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "waiting 2"), 1);
    EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "started 2 at 0"), 1);
}

// The issue of a boot loader that asks again for page 223 1.5 s after it
// had it: with the default idle time that request is still its board's.
TEST_F(Board, ByDefaultARequestAgainAfterABootLoadersTimeOutBelongsToItsBoard)
{
    BoardRules defaults;
    defaults.loop = true;
    BoardTracker tracker(defaults, events, at(0s));
    Clock::Duration now = uploadPages(tracker, 0, 223, 0s);
    runDeadlinesUntil(tracker, now + 1500ms);
    now = uploadPages(tracker, 223, 223, now + 1500ms);
    EXPECT_EQ(events.lines.back(), "resent 1:223");
    runDeadlinesUntil(tracker, now + 10s);
    EXPECT_EQ(events.since(events.lines.size() - 3), (Strings{"done 1", "summary 1 ok", "waiting 2"}));
    EXPECT_EQ(events.lastSummary.resent, (std::vector<PageRange>{{223, 223}}));
}

// A board with a USB port of its own starts the new firmware once it has
// every page, and its port goes with it.
TEST_F(Board, WhosePortGoesAfterItsLastPageIsDoneAndWithPagesMissingIsPortLost)
{
    const Failure gone{ExitStatus::PortLost, "The upload stopped: the device of /dev/ttyACM0 went away", "Check it.",
        commDeviceGone, 0};
    BoardTracker restarted(rules(), events, at(0s));
    const Clock::Duration now = uploadPages(restarted, 0, 223, 0s);
    restarted.portFailed(gone, true, at(now + 5ms));
    EXPECT_EQ(restarted.result(), ExitStatus::Ok);
    EXPECT_EQ(events.since(events.lines.size() - 2), (Strings{"done 1", "summary 1 ok"}));
    EXPECT_TRUE(events.lastSummary.portWentAway);

    RecordedEvents single;
    BoardTracker unplugged(rules(), single, at(0s));
    uploadPages(unplugged, 0, 99, 0s);
    unplugged.portFailed(gone, true, at(5s));
    EXPECT_EQ(unplugged.result(), ExitStatus::PortLost);
    EXPECT_EQ(single.since(single.lines.size() - 2), (Strings{"failed port-lost 1", "summary 1 port-lost"}));
    EXPECT_EQ(single.lastFailure.message,
        "The upload stopped: the device of /dev/ttyACM0 went away; 124 pages of 224 never sent: 100-223");
    EXPECT_EQ(single.lastSummary.neverSent, (std::vector<PageRange>{{100, 223}}));
}

TEST_F(Board, InALoopAPortThatGoesIsAwaitedAndTheLoopNeverEndsByItself)
{
    const Failure gone{ExitStatus::PortLost, "gone", {}, commDeviceGone, 0};
    const Failure stalled{ExitStatus::Failure, "stalled", {}, commTransmitStalled, 0};
    BoardTracker tracker(rules(true), events, at(0s));
    Clock::Duration now = uploadPages(tracker, 0, 223, 0s);
    tracker.portFailed(gone, true, at(now));
    EXPECT_EQ(events.since(events.lines.size() - 3), (Strings{"done 1", "summary 1 ok", "waiting 2 for the port"}));
    tracker.portBack();
    EXPECT_EQ(events.lines.back(), "waiting 2");
    // Board 2 unplugged half way, board 3's port stuck: each fails alone.
    now = uploadPages(tracker, 0, 49, now + 2s);
    tracker.portFailed(gone, true, at(now));
    tracker.portBack();
    now = uploadPages(tracker, 0, 9, now + 2s);
    tracker.portFailed(stalled, false, at(now));
    // Gone between boards: only awaited; the same loss seen again (by the
    // page under way, then by the line) is awaited once.
    tracker.portBack();
    tracker.portFailed(gone, true, at(now + 1s));
    tracker.portFailed(gone, true, at(now + 1s));

    EXPECT_EQ(events.since(events.lines.size() - 6),
        (Strings{"sent 3:9", "failed failure 3", "summary 3 failure", "waiting 4 for the port", "waiting 4",
            "waiting 4 for the port"}));
    EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "failed port-lost 2"), 1);
    EXPECT_FALSE(tracker.result()) << "a loop never ends by itself";
}

TEST_F(Board, InALoopABoardThatStartsOverAfterAPauseIsTheNextBoard)
{
    BoardTracker tracker(rules(true), events, at(0s));
    // Page 0 again after a pause, but nothing further yet: the board missed
    // the answer and asks again.
    Clock::Duration now = uploadPages(tracker, 0, 0, 0s);
    now = uploadPages(tracker, 0, 49, now + 1500ms);
    // Page 0 again straight away: the same board, asking again.
    now = uploadPages(tracker, 0, 0, now);
    // A pause shorter than the idle time, then page 50: the same board.
    now = uploadPages(tracker, 50, 59, now + 900ms);
    EXPECT_EQ(tracker.board(), 1);
    // After the idle time, page 0: board 1 lost its place or was swapped.
    const std::size_t before = events.lines.size();
    uploadPages(tracker, 0, 0, now + 1500ms);

    EXPECT_EQ(events.since(before),
        (Strings{"failed pages-missing 1", "summary 1 pages-missing", "waiting 2", "started 2 at 0", "sent 2:0"}));
    EXPECT_EQ(events.lastSummary.neverSent, (std::vector<PageRange>{{60, 223}}));
}

TEST_F(Board, EndedFromOutsideTellsWhatTheBoardHad)
{
    BoardTracker tracker(rules(true), events, at(0s));
    const Clock::Duration now = uploadPages(tracker, 0, 223, 0s);
    runDeadlinesUntil(tracker, now + 10s);
    // Interrupted between boards: every board had its summary already.
    const std::size_t before = events.lines.size();
    tracker.end({ExitStatus::Interrupted, "Interrupted", {}, 0, 0});
    EXPECT_EQ(events.since(before), (Strings{"failed interrupted 0"}));
    EXPECT_EQ(tracker.result(), ExitStatus::Interrupted);

    // Without --loop, and in the middle of a board, the summary follows.
    RecordedEvents single;
    BoardTracker board(rules(), single, at(0s));
    uploadPages(board, 0, 9, 0s);
    board.end({ExitStatus::PortLost, "gone", {}, commDeviceGone, 0});
    EXPECT_EQ(single.since(single.lines.size() - 2), (Strings{"failed port-lost 1", "summary 1 port-lost"}));
    EXPECT_EQ(single.lastSummary.pagesSent, 10);
}
