#include "serial/PortDirectory.h"

#include "serial/PortOrder.h"

namespace isp {

std::string PortDirectory::nameOf(int n) const
{
    const std::string path = pathOf(n);
    return "COM" + std::to_string(n) + (path.empty() ? "" : " (" + path + ")");
}

void ListedPortDirectory::refresh()
{
    list();
}

void ListedPortDirectory::list() const
{
    paths_ = lister_ ? lister_() : std::vector<std::string>{};
    sortPathsNaturally(paths_);
    listed_ = true;
}

std::string ListedPortDirectory::pathOf(int n) const
{
    if (!listed_)
        list();
    if (n < 1 || static_cast<std::size_t>(n) > paths_.size())
        return {};
    return paths_[static_cast<std::size_t>(n) - 1];
}

std::vector<int> ListedPortDirectory::numbersAbove(int highest) const
{
    if (!listed_)
        list();
    std::vector<int> numbers;
    for (int n = highest + 1; n <= static_cast<int>(paths_.size()); ++n)
        numbers.push_back(n);
    return numbers;
}

} // namespace isp
