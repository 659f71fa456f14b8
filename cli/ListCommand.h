#pragma once

#include "cli/Arguments.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/JsonReport.h"
#include "serial/Platform.h"
#include "serial/PortInfo.h"

#include <ostream>
#include <vector>

// `list`: the serial ports with the COMn number the window gives each, what
// the system tells about them, and whether each could be opened now.
namespace isp::cli {

struct ListedPort {
    PortInfo info; // with its COMn number

    platform::PortUse use;
};

// The system's ports in COMn order, each checked without opening it.
std::vector<ListedPort> systemPortList();

void writePortList(const std::vector<ListedPort>& ports, std::ostream& out);
void writePortListJson(const std::vector<ListedPort>& ports, JsonLines& lines);

ExitStatus runList(const ListOptions& options, Console& console);

} // namespace isp::cli
