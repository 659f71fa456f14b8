#pragma once

#include "cli/UploadEvents.h"
#include "image/ImageLayout.h"
#include "serial/Clock.h"

#include <array>
#include <optional>

// The account of one board's upload: which pages it asked for and how often,
// which were answered, how many requests were beyond the limits.
namespace isp::cli {

class BoardRecord {
public:
    void requestArrived(int page, Clock::TimePoint now);
    void requestIgnored() { ++ignored_; }
    void strayCharacters(int count) { stray_ += count; }
    // Returns true if the board had this page before.
    bool pageSent(int page, Clock::TimePoint now);

    bool complete() const { return pagesSent_ == PageCount; }
    int pagesSent() const { return pagesSent_; }
    int answers() const { return answerCount_; }
    int requestsIgnored() const { return ignored_; }
    // Whether a page other than `page` has been sent.
    bool sentOtherThan(int page) const
    {
        return pagesSent_ > (answers_.at(static_cast<std::size_t>(page)) > 0 ? 1 : 0);
    }

    BoardSummary summarize(int board, ExitStatus result) const;

private:
    std::array<int, PageCount> requests_{};
    std::array<int, PageCount> answers_{};
    int pagesSent_ = 0;
    int answerCount_ = 0;
    int requestCount_ = 0;
    int ignored_ = 0;
    int stray_ = 0;
    std::optional<Clock::TimePoint> firstRequest_;
    Clock::TimePoint lastPage_{};
};

} // namespace isp::cli
