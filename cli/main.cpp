#include "cli/Console.h"
#include "cli/Run.h"
#include "serial/Platform.h"

#include <iostream>

int main(int argc, char* argv[])
{
    isp::platform::tuneProcessForTiming();
    isp::cli::keepRunningWhenOutputCloses();
    isp::cli::writeTextAsTheConsoleShowsIt();
    isp::cli::Console console{std::cout, std::cerr, isp::cli::standardErrorIsTerminal()};
    const std::vector<std::string> arguments = isp::cli::commandLineArguments(argc, argv);
    if (isp::cli::startedByDoubleClick())
        return isp::cli::runInItsOwnConsole(arguments, console, std::cin);
    return isp::cli::run(arguments, console);
}
