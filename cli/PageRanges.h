#pragma once

#include <string>
#include <vector>

// Sets of pages as runs of consecutive numbers: the summary names the pages
// never sent as "100-223" rather than 124 numbers.
namespace isp::cli {

struct PageRange {
    int first = 0;
    int last = 0; // inclusive

    bool operator==(const PageRange&) const = default;
};

// The runs of the pages for which `has(page)` holds, among 0 .. count - 1.
template <typename Predicate>
std::vector<PageRange> pageRangesWhere(int count, Predicate has)
{
    std::vector<PageRange> ranges;
    for (int page = 0; page < count; ++page) {
        if (!has(page))
            continue;
        if (!ranges.empty() && ranges.back().last == page - 1)
            ranges.back().last = page;
        else
            ranges.push_back({page, page});
    }
    return ranges;
}

// "3, 17, 100-223"; "none" for no page.
std::string describePageRanges(const std::vector<PageRange>& ranges);

int pagesIn(const std::vector<PageRange>& ranges);

} // namespace isp::cli
