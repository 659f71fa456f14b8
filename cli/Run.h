#pragma once

#include "cli/Console.h"

#include <istream>
#include <string>
#include <vector>

// The command line as a whole: reads the arguments and runs the command.
// Returns the exit status (cli/ExitStatus.h).
namespace isp::cli {

// `arguments` are the program's name and its arguments, in UTF-8.
int run(const std::vector<std::string>& arguments, Console& console);

// Run with a console window of its own, which closes the moment the program
// ends (started from Explorer): with no argument it shows the help; with
// one that names a file (an image dropped on the program) it tells what the
// image is and how to upload it; otherwise it runs the command. Then it
// waits for Enter on `in`, so that what it wrote can be read.
int runInItsOwnConsole(const std::vector<std::string>& arguments, Console& console, std::istream& in);

} // namespace isp::cli
