#include "cli/Console.h"
#include "cli/Run.h"
#include "serial/Platform.h"

#include <iostream>

int main(int argc, char* argv[])
{
    isp::platform::tuneProcessForTiming();
    isp::cli::keepRunningWhenOutputCloses();
    isp::cli::Console console{std::cout, std::cerr, isp::cli::standardErrorIsTerminal()};
    if (argc <= 1 && isp::cli::startedByDoubleClick()) {
        // The console window is the program's own and closes when it ends:
        // say how to use it, and keep the window until it was read.
        const char* help[] = {argv[0], "--help"};
        (void)isp::cli::run(2, help, console);
        std::cout << "\nThis is a command-line program: run it from a Command Prompt or PowerShell window.\n"
                     "Press Enter to close this window.";
        std::cout.flush();
        std::cin.get();
        return 0;
    }
    return isp::cli::run(argc, argv, console);
}
