#pragma once

#include <string>
#include <string_view>
#include <vector>

// The order in which serial ports are shown and numbered: natural order of
// the device path, so that "/dev/ttyS2" comes before "/dev/ttyS10" and all
// "/dev/ttyS*" before "/dev/ttyUSB*". Free of Qt, for the core and the
// command line.
namespace isp {

// True if `a` comes before `b`: runs of digits compare by their value, the
// rest character by character.
bool naturalPathLess(std::string_view a, std::string_view b);

void sortPathsNaturally(std::vector<std::string>& paths);

} // namespace isp
