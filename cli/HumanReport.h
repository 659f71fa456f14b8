#pragma once

#include "cli/RunFacts.h"
#include "cli/UploadEvents.h"

#include <ostream>
#include <string>

// The upload told to a person. While stderr is a terminal, one progress
// line there, rewritten in place; the summary at the end, on stdout (on
// stderr when stdout carries JSON); failures on stderr with what to do.
// --quiet leaves only the failures.
namespace isp::cli {

struct HumanReportSettings {
    bool quiet = false;
    bool progressLine = false; // stderr is a terminal
    bool summaryToErr = false; // stdout carries JSON lines
    bool loop = false;         // boards are numbered in what is said
};

// A failure as stderr shows it: the message, then what to do.
void writeFailure(std::ostream& err, const Failure& failure);
void writeWarning(std::ostream& err, const std::string& text);

class HumanReport final : public UploadEvents {
public:
    // `facts` must outlive the report; it may be completed after construction.
    HumanReport(std::ostream& out, std::ostream& err, const RunFacts& facts, HumanReportSettings settings);

    void waiting(const Waiting& waiting) override;
    void boardStarted(int board, int firstPage) override;
    void pageSent(const PageSent& sent) override;
    void requestIgnored(int board, const std::string& request) override;
    void boardDone(const BoardSummary& summary) override;
    void failed(const Failure& failure) override;
    void summary(const BoardSummary& summary) override;
    void warning(const std::string& text) override;

private:
    void showProgress();
    // Wipes the progress line, so that a whole line can be written.
    void clearProgress();
    // Where stdout has gone (its reader ended), the summary still goes
    // somewhere.
    std::ostream& summaryStream() { return settings_.summaryToErr || !out_ ? err_ : out_; }

    std::ostream& out_;
    std::ostream& err_;
    const RunFacts& facts_;
    HumanReportSettings settings_;
    // What the progress line shows.
    int board_ = 1;
    int lastPage_ = -1;
    int pagesSent_ = 0;
    int resends_ = 0;
    int ignored_ = 0;
    std::size_t progressWidth_ = 0; // characters of the line on screen now
};

// The summary as lines of text, for the human report.
std::string summaryText(const BoardSummary& summary, const RunFacts& facts, bool numberBoards);

} // namespace isp::cli
