#pragma once

#include <ostream>
#include <string>
#include <vector>

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

// Whether this program has a console window of its own, which closes the
// moment the program ends: a command-line program started from Explorer
// with a double click or an image dropped on it (the only process on its
// console, its input that console). Such a program should say how to use it
// and wait for Enter rather than flash a window and vanish. False when
// started from a shell or with its input redirected, and on every system
// but Windows.
bool startedByDoubleClick();

// The program's name and arguments in UTF-8, whatever the user typed: on
// Windows as the system keeps them, in UTF-16 (main's argv holds them in
// the ANSI code page, where "Jürgen" or "прошивка" do not fit).
std::vector<std::string> commandLineArguments(int argc, char* argv[]);

// Text written in UTF-8 shows as such: on Windows, what goes to a console
// window is handed to it in UTF-16 (its code page is an OEM one); what goes
// to a file or a pipe stays UTF-8.
void writeTextAsTheConsoleShowsIt();

} // namespace isp::cli
