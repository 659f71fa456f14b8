#pragma once

#include "cli/ExitStatus.h"
#include "cli/PageRanges.h"
#include "serial/Clock.h"

#include <string>
#include <vector>

// What happens during an upload, as the reporters hear of it: the human
// progress line and summary, the JSON lines. Told in the order it happened,
// from the event loop, once per event.
namespace isp::cli {

// One board's upload, as the summary tells it.
struct BoardSummary {
    int board = 1;                      // 1, 2, ... in the order the boards came (--loop)
    ExitStatus result = ExitStatus::Ok; // Ok: the board got every page
    int pagesSent = 0;                  // pages answered at least once
    int answers = 0;                    // pages answered, repeats included
    int requests = 0;                   // requests for a page (within limits)
    int requestsIgnored = 0;            // requests beyond the limits
    std::vector<PageRange> resent;      // pages answered more than once
    std::vector<PageRange> askedAgain;  // pages asked for more than once
    std::vector<PageRange> neverAsked;  // pages the device never asked for
    std::vector<PageRange> neverSent;   // pages never answered
    Clock::Duration duration{};         // first request to last page, or to the end
    int strayCharacters = 0;            // characters dropped as part of no request (line noise)
    bool portWentAway = false;          // the board ended with its port gone (Ok: after the last page)
};

struct PageSent {
    int board = 1;
    int page = 0;
    bool resent = false;   // the board had this page before
    int pagesSent = 0;     // pages of this board answered at least once, this one included
    bool afterEnd = false; // asked for once the board's summary was written (--loop)
};

// What is awaited while no board is asking.
struct Waiting {
    int board = 1;            // the number the next board will get
    bool reminder = false;    // said again, every few seconds while the first board is awaited
    bool portAwaited = false; // the port is not there (it went away): it is awaited first
};

// Something that ends an upload, or a board of it, without every page sent:
// what happened, in the core's or the command line's own words, and what to
// do about it.
struct Failure {
    ExitStatus status = ExitStatus::Failure;
    std::string message;
    std::string advice;
    int commError = 0; // the core's error number (8005, ...), 0 if none
    int board = 0;     // the board it ended, 0 if none had started
};

class UploadEvents {
public:
    virtual ~UploadEvents() = default;

    // No board is asking yet: the port is open and a board is awaited, or
    // the port is awaited first.
    virtual void waiting(const Waiting& waiting) = 0;
    virtual void boardStarted(int board, int firstPage) = 0;
    virtual void pageSent(const PageSent& sent) = 0;
    // A request with c2 or c3 beyond the limits: not a page; the device asks
    // again. `request` holds its characters.
    virtual void requestIgnored(int board, const std::string& request) = 0;
    // Every page sent, then silence: the board is done.
    virtual void boardDone(const BoardSummary& summary) = 0;
    virtual void failed(const Failure& failure) = 0;
    // The account of one board, at its end however it ended.
    virtual void summary(const BoardSummary& summary) = 0;
    // Worth telling, though nothing ends: an image warning, a port that is
    // back but cannot be opened yet.
    virtual void warning(const std::string& text) = 0;
};

// Tells every event to several reporters, in order.
class UploadEventsFanOut final : public UploadEvents {
public:
    void add(UploadEvents& events) { targets_.push_back(&events); }

    void waiting(const Waiting& waiting) override
    {
        for (UploadEvents* t : targets_)
            t->waiting(waiting);
    }
    void boardStarted(int board, int firstPage) override
    {
        for (UploadEvents* t : targets_)
            t->boardStarted(board, firstPage);
    }
    void pageSent(const PageSent& sent) override
    {
        for (UploadEvents* t : targets_)
            t->pageSent(sent);
    }
    void requestIgnored(int board, const std::string& request) override
    {
        for (UploadEvents* t : targets_)
            t->requestIgnored(board, request);
    }
    void boardDone(const BoardSummary& summary) override
    {
        for (UploadEvents* t : targets_)
            t->boardDone(summary);
    }
    void failed(const Failure& failure) override
    {
        for (UploadEvents* t : targets_)
            t->failed(failure);
    }
    void summary(const BoardSummary& summary) override
    {
        for (UploadEvents* t : targets_)
            t->summary(summary);
    }
    void warning(const std::string& text) override
    {
        for (UploadEvents* t : targets_)
            t->warning(text);
    }

private:
    std::vector<UploadEvents*> targets_;
};

} // namespace isp::cli
