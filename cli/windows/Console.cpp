#include "cli/Console.h"

#include "cli/SystemWords.h"
#include "cli/Utf8Text.h"
#include "serial/windows/WideText.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <streambuf>

namespace isp::cli {
namespace {

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0;
}

// A stream buffer that hands UTF-8 to a console window as UTF-16, whole
// characters at a time, whatever the console's code page: the console's
// code page is left as the user had it (changing it would outlast the
// program, in the window the user goes on working in).
class ConsoleBuffer final : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) { setp(buffer_, buffer_ + sizeof buffer_); }

protected:
    int_type overflow(int_type c) override
    {
        if (sync() != 0)
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override
    {
        const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        const std::size_t whole = wholeUtf8Length(pending);
        const bool written = write(pending.substr(0, whole));
        // The start of a character whose other bytes are still to come.
        const std::size_t rest = pending.size() - whole;
        std::memmove(buffer_, pending.data() + whole, rest);
        setp(buffer_, buffer_ + sizeof buffer_);
        pbump(static_cast<int>(rest));
        return written ? 0 : -1;
    }

private:
    bool write(std::string_view text)
    {
        if (text.empty())
            return true;
        const std::wstring wide = windows::wide(text);
        for (std::size_t at = 0; at < wide.size();) {
            DWORD done = 0;
            if (!::WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(wide.size() - at), &done, nullptr)
                || done == 0)
                return false;
            at += done;
        }
        return true;
    }

    HANDLE console_;
    char buffer_[1024];
};

} // namespace

bool standardErrorIsTerminal()
{
    return isConsole(::GetStdHandle(STD_ERROR_HANDLE));
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
    return isConsole(::GetStdHandle(STD_INPUT_HANDLE));
}

std::vector<std::string> commandLineArguments(int argc, char* argv[])
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return {argv, argv + argc};
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(windows::utf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void writeTextAsTheConsoleShowsIt()
{
    // Never freed: std::cout and std::cerr are flushed after every static
    // object of the program has gone.
    if (const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE); isConsole(handle))
        std::cout.rdbuf(new ConsoleBuffer(handle));
    if (const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE); isConsole(handle))
        std::cerr.rdbuf(new ConsoleBuffer(handle));
}

const SystemWords& systemWords()
{
    return windowsWords();
}

} // namespace isp::cli
