#include "cli/HumanReport.h"

#include "cli/Failures.h"
#include "image/ImageLayout.h"

#include <cstdio>

namespace isp::cli {
namespace {

std::string boardPrefix(int board, bool numberBoards)
{
    return numberBoards ? "board " + std::to_string(board) + ": " : std::string();
}

std::string outcomeText(const BoardSummary& summary)
{
    if (isInterruption(summary.result))
        return "interrupted";
    switch (summary.result) {
    case ExitStatus::Ok:
        return summary.portWentAway ? "done, the board got every page, and its port went away after the last page"
                                    : "done, the board got every page";
    case ExitStatus::PagesMissing: return "FAILED, pages never sent: " + describePageRanges(summary.neverSent);
    case ExitStatus::NoFirstRequest: return "FAILED, the device never asked for a page";
    case ExitStatus::OutputLost: return "stopped, the reader of the output went away";
    case ExitStatus::PortLost:
        return "FAILED, the port went away; pages never sent: " + describePageRanges(summary.neverSent);
    default: return std::string("FAILED (") + exitStatusName(summary.result) + ")";
    }
}

std::string percent(int pages)
{
    return std::to_string(pages * 100 / PageCount) + "%";
}

} // namespace

std::string summaryText(const BoardSummary& summary, const RunFacts& facts, bool numberBoards)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", std::chrono::duration<double>(summary.duration).count());
    std::string text = boardPrefix(summary.board, numberBoards) + outcomeText(summary) + "\n";
    const auto row = [&text](const char* name, const std::string& value) {
        text += "  ";
        text += name;
        text += value;
        text += '\n';
    };
    row("pages sent:           ",
        std::to_string(summary.pagesSent) + " of " + std::to_string(PageCount) + " (" + std::to_string(summary.answers)
            + " answers to " + std::to_string(summary.requests) + " requests)");
    row("sent more than once:  ", describePageRanges(summary.resent));
    row("asked more than once: ", describePageRanges(summary.askedAgain));
    row("never asked for:      ", describePageRanges(summary.neverAsked));
    if (summary.result != ExitStatus::PagesMissing)
        row("never sent:           ", describePageRanges(summary.neverSent));
    row("requests ignored:     ", std::to_string(summary.requestsIgnored) + " (beyond the page limits)");
    row("stray characters:     ",
        std::to_string(summary.strayCharacters) + " (dropped: no request followed within 50 ms)");
    row("time taken:           ", std::string(seconds) + " (first request to last page)");
    row("image:                ", facts.image.file + " (" + facts.image.format + ")");
    row("image CRC-32:         ", facts.image.crc32);
    row("image SHA-256:        ", facts.image.sha256);
    row("port:                 ", facts.port.description);
    for (const std::string& warning : facts.image.warnings)
        row("warning:              ", warning);
    return text;
}

HumanReport::HumanReport(std::ostream& out, std::ostream& err, const RunFacts& facts, HumanReportSettings settings)
    : out_(out), err_(err), facts_(facts), settings_(settings)
{
}

void HumanReport::waiting(const Waiting& waiting)
{
    if (settings_.quiet)
        return;
    clearProgress();
    if (waiting.portAwaited)
        err_ << "waiting for the port " << facts_.port.description << ", which is not there now...\n";
    else if (waiting.board == 1)
        err_ << "waiting for the device on " << facts_.port.description << "...\n";
    else
        err_ << "waiting for board " << waiting.board << " on " << facts_.port.description << "...\n";
    err_.flush();
}

void HumanReport::boardStarted(int board, int firstPage)
{
    board_ = board;
    lastPage_ = -1;
    pagesSent_ = 0;
    resends_ = 0;
    ignored_ = 0;
    (void)firstPage;
    showProgress();
}

void HumanReport::pageSent(const PageSent& sent)
{
    if (sent.afterEnd) {
        if (!settings_.quiet) {
            clearProgress();
            err_ << "board " << sent.board << ": page " << sent.page << " sent " << (sent.resent ? "again " : "")
                 << "after the board's summary (the board asked for it again)\n";
            err_.flush();
        }
        return;
    }
    lastPage_ = sent.page;
    pagesSent_ = sent.pagesSent;
    if (sent.resent)
        ++resends_;
    showProgress();
}

void HumanReport::requestIgnored(int board, const std::string& request)
{
    (void)board;
    (void)request;
    ++ignored_;
    showProgress();
}

void HumanReport::boardDone(const BoardSummary& summary)
{
    // The summary that follows says it all.
    (void)summary;
}

void writeFailure(std::ostream& err, const Failure& failure)
{
    err << "velmora-isp2-cli: " << failure.message << ".\n";
    if (!failure.advice.empty())
        err << "  " << failure.advice << "\n";
}

void writeWarning(std::ostream& err, const std::string& text)
{
    err << "warning: " << text << "\n";
}

void HumanReport::failed(const Failure& failure)
{
    clearProgress();
    if (isInterruption(failure.status))
        err_ << failure.message << ".\n";
    else
        writeFailure(err_, failure);
    err_.flush();
}

void HumanReport::summary(const BoardSummary& summary)
{
    if (settings_.quiet)
        return;
    clearProgress();
    summaryStream() << summaryText(summary, facts_, settings_.loop);
    summaryStream().flush();
}

void HumanReport::warning(const std::string& text)
{
    if (settings_.quiet)
        return;
    clearProgress();
    writeWarning(err_, text);
    err_.flush();
}

void HumanReport::showProgress()
{
    if (settings_.quiet || !settings_.progressLine)
        return;
    std::string line = boardPrefix(board_, settings_.loop) + std::to_string(pagesSent_) + " of "
        + std::to_string(PageCount) + " pages (" + percent(pagesSent_) + ")";
    if (lastPage_ >= 0)
        line += ", page " + std::to_string(lastPage_) + " sent";
    if (resends_ > 0)
        line += ", " + std::to_string(resends_) + " sent again";
    if (ignored_ > 0)
        line += ", " + countOf(ignored_, "request") + " ignored";
    const std::size_t width = line.size();
    if (width < progressWidth_)
        line.append(progressWidth_ - width, ' ');
    err_ << '\r' << line;
    err_.flush();
    progressWidth_ = width;
}

void HumanReport::clearProgress()
{
    if (progressWidth_ == 0)
        return;
    err_ << '\r' << std::string(progressWidth_, ' ') << '\r';
    err_.flush();
    progressWidth_ = 0;
}

} // namespace isp::cli
