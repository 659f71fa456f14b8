#pragma once

#include "cli/ExitStatus.h"
#include "serial/EventLoop.h"

#include <functional>
#include <memory>

// Ctrl-C, SIGTERM and SIGHUP, the terminal or the ssh connection closed (on
// Windows: Ctrl-C, Ctrl-Break, and closing the console, logging off or
// shutting down), told through the event loop. The page sender runs a whole
// page inside one task of the loop, so a request to stop is seen only
// between tasks: a page is never cut, and the program stops before the next
// one.
namespace isp::cli {

class InterruptWatch {
public:
    // From now until destruction an interruption no longer ends the process
    // at once; `interrupted` runs from the loop instead, once per signal,
    // with the exit status that tells the signal (ExitStatus.h).
    InterruptWatch(EventLoop& loop, std::function<void(ExitStatus)> interrupted);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};

} // namespace isp::cli
