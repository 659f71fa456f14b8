#pragma once

#include "cli/UploadEvents.h"

#include <string>
#include <vector>

// The upload's events as short lines of text ("started 1 at 0", "sent 1:5",
// "resent 1:5", "resent 1:223 after end", "ignored 1", "done 1",
// "failed pages-missing 1", "summary 1 ok", "waiting 2", "waiting 2 for the
// port", "warning"), and the last summary, failure and warning in full.
namespace isp::test {

struct RecordedEvents final : cli::UploadEvents {
    std::vector<std::string> lines;
    cli::BoardSummary lastSummary;
    cli::Failure lastFailure;
    std::string lastWarning;
    int reminders = 0;

    void waiting(const cli::Waiting& waiting) override
    {
        if (waiting.reminder)
            ++reminders;
        else
            lines.push_back("waiting " + std::to_string(waiting.board) + (waiting.portAwaited ? " for the port" : ""));
    }
    void boardStarted(int board, int firstPage) override
    {
        lines.push_back("started " + std::to_string(board) + " at " + std::to_string(firstPage));
    }
    void pageSent(const cli::PageSent& sent) override
    {
        lines.push_back(std::string(sent.resent ? "resent " : "sent ") + std::to_string(sent.board) + ":"
            + std::to_string(sent.page) + (sent.afterEnd ? " after end" : ""));
    }
    void requestIgnored(int board, const std::string&) override { lines.push_back("ignored " + std::to_string(board)); }
    void boardDone(const cli::BoardSummary& summary) override
    {
        lines.push_back("done " + std::to_string(summary.board));
    }
    void failed(const cli::Failure& failure) override
    {
        lines.push_back(
            std::string("failed ") + cli::exitStatusName(failure.status) + " " + std::to_string(failure.board));
        lastFailure = failure;
    }
    void summary(const cli::BoardSummary& summary) override
    {
        lines.push_back("summary " + std::to_string(summary.board) + " " + cli::exitStatusName(summary.result));
        lastSummary = summary;
    }
    void warning(const std::string& text) override
    {
        lines.emplace_back("warning");
        lastWarning = text;
    }

    // The lines from `from` on.
    std::vector<std::string> since(std::size_t from) const
    {
        return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())), lines.end()};
    }
};

} // namespace isp::test
