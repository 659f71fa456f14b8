#pragma once

#include <ostream>

// Where the command line writes, and what it needs to know about it. The
// few calls that differ between systems live in cli/posix/ and
// cli/windows/; nothing else in cli/ calls the system directly.
namespace isp::cli {

struct Console {
    std::ostream& out;
    std::ostream& err;
    // A person watches stderr: the progress line is worth drawing.
    bool errIsTerminal = false;
};

// Whether the program's stderr is a terminal.
bool standardErrorIsTerminal();

// A reader of stdout or stderr that goes away (`| head`) must not end the
// program in the middle of a page: writes then fail quietly instead.
void keepRunningWhenOutputCloses();

} // namespace isp::cli
