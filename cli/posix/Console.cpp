#include "cli/Console.h"
#include "cli/SystemWords.h"

#include <signal.h>
#include <unistd.h>

namespace isp::cli {

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void keepRunningWhenOutputCloses()
{
    ::signal(SIGPIPE, SIG_IGN);
}

bool startedByDoubleClick()
{
    return false;
}

std::vector<std::string> commandLineArguments(int argc, char* argv[])
{
    return {argv, argv + argc};
}

void writeTextAsTheConsoleShowsIt()
{
    // A terminal here takes the UTF-8 it is given.
}

const SystemWords& systemWords()
{
    return posixWords();
}

} // namespace isp::cli
