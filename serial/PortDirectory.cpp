#include "serial/PortDirectory.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <unistd.h>

namespace isp {
namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// "ttyS10" > "ttyS2": compare digit runs by value, the rest by character.
bool naturalLess(const std::string& a, const std::string& b)
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
            std::string_view runA(a.data() + i, iEnd - i);
            std::string_view runB(b.data() + j, jEnd - j);
            while (runA.size() > 1 && runA.front() == '0')
                runA.remove_prefix(1);
            while (runB.size() > 1 && runB.front() == '0')
                runB.remove_prefix(1);
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
    return a < b;
}

} // namespace

void sortNaturally(std::vector<std::string>& paths)
{
    std::sort(paths.begin(), paths.end(), naturalLess);
}

std::vector<std::string> systemSerialPorts()
{
    std::vector<std::string> paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        paths.push_back(info.systemLocation().toStdString());
    sortNaturally(paths);
    return paths;
}

void PortDirectory::refresh()
{
    paths_ = lister_ ? lister_() : std::vector<std::string>{};
    listed_ = true;
}

std::string PortDirectory::listedPath(int n) const
{
    if (n < 1 || static_cast<std::size_t>(n) > paths_.size())
        return {};
    return paths_[static_cast<std::size_t>(n) - 1];
}

std::string PortDirectory::pathOf(int n)
{
    if (!listed_)
        refresh();
    std::string path = listedPath(n);
    if (!path.empty() && ::access(path.c_str(), F_OK) != 0) {
        refresh();
        path = listedPath(n);
    }
    return path;
}

} // namespace isp
