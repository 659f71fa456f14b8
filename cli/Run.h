#pragma once

#include "cli/Console.h"

// The command line as a whole: reads the arguments and runs the command.
// Returns the exit status (cli/ExitStatus.h).
namespace isp::cli {

int run(int argc, const char* const* argv, Console& console);

} // namespace isp::cli
