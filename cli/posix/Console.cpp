#include "cli/Console.h"

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

} // namespace isp::cli
