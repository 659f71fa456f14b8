#include "cli/Console.h"
#include "cli/SystemWords.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace isp::cli {

bool standardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void keepRunningWhenOutputCloses()
{
    // Windows has no SIGPIPE: a write to a closed pipe fails. Lines end in
    // '\n' as on every other system, not "\r\n".
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool startedByDoubleClick()
{
    DWORD processes[2];
    if (::GetConsoleProcessList(processes, 2) != 1)
        return false;
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

const SystemWords& systemWords()
{
    return windowsWords();
}

} // namespace isp::cli
