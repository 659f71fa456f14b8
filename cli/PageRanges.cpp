#include "cli/PageRanges.h"

namespace isp::cli {

std::string describePageRanges(const std::vector<PageRange>& ranges)
{
    if (ranges.empty())
        return "none";
    std::string text;
    for (const PageRange& range : ranges) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(range.first);
        if (range.last != range.first)
            text += '-' + std::to_string(range.last);
    }
    return text;
}

int pagesIn(const std::vector<PageRange>& ranges)
{
    int pages = 0;
    for (const PageRange& range : ranges)
        pages += range.last - range.first + 1;
    return pages;
}

} // namespace isp::cli
