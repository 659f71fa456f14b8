#include "cli/Console.h"
#include "cli/Run.h"
#include "serial/Platform.h"

#include <iostream>

int main(int argc, char* argv[])
{
    isp::platform::tuneProcessForTiming();
    isp::cli::keepRunningWhenOutputCloses();
    isp::cli::Console console{std::cout, std::cerr, isp::cli::standardErrorIsTerminal()};
    return isp::cli::run(argc, argv, console);
}
