#include "cli/BoardRecord.h"

namespace isp::cli {

void BoardRecord::requestArrived(int page, Clock::TimePoint now)
{
    if (!firstRequest_)
        firstRequest_ = now;
    ++requests_.at(static_cast<std::size_t>(page));
    ++requestCount_;
}

bool BoardRecord::pageSent(int page, Clock::TimePoint now)
{
    int& count = answers_.at(static_cast<std::size_t>(page));
    if (count++ == 0)
        ++pagesSent_;
    ++answerCount_;
    lastPage_ = now;
    return count > 1;
}

BoardSummary BoardRecord::summarize(int board, ExitStatus result) const
{
    const auto index = [](int page) { return static_cast<std::size_t>(page); };
    BoardSummary summary;
    summary.board = board;
    summary.result = result;
    summary.pagesSent = pagesSent_;
    summary.answers = answerCount_;
    summary.requests = requestCount_;
    summary.requestsIgnored = ignored_;
    summary.strayCharacters = stray_;
    summary.resent = pageRangesWhere(PageCount, [&](int p) { return answers_[index(p)] > 1; });
    summary.askedAgain = pageRangesWhere(PageCount, [&](int p) { return requests_[index(p)] > 1; });
    summary.neverAsked = pageRangesWhere(PageCount, [&](int p) { return requests_[index(p)] == 0; });
    summary.neverSent = pageRangesWhere(PageCount, [&](int p) { return answers_[index(p)] == 0; });
    if (firstRequest_ && answerCount_ > 0)
        summary.duration = lastPage_ - *firstRequest_;
    return summary;
}

} // namespace isp::cli
