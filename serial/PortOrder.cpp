#include "serial/PortOrder.h"

#include <algorithm>
#include <cctype>

namespace isp {
namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string_view withoutLeadingZeros(std::string_view run)
{
    while (run.size() > 1 && run.front() == '0')
        run.remove_prefix(1);
    return run;
}

} // namespace

bool naturalPathLess(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t iEnd = i;
            std::size_t jEnd = j;
            while (iEnd < a.size() && isDigit(a[iEnd]))
                ++iEnd;
            while (jEnd < b.size() && isDigit(b[jEnd]))
                ++jEnd;
            // A longer run without its leading zeros is the larger number.
            const std::string_view runA = withoutLeadingZeros(a.substr(i, iEnd - i));
            const std::string_view runB = withoutLeadingZeros(b.substr(j, jEnd - j));
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (runA != runB)
                return runA < runB;
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    // Equal but for leading zeros ("ttyS01", "ttyS1"): any fixed order.
    return a < b;
}

void sortPathsNaturally(std::vector<std::string>& paths)
{
    std::sort(
        paths.begin(), paths.end(), [](const std::string& a, const std::string& b) { return naturalPathLess(a, b); });
}

} // namespace isp
