#pragma once

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

// A second program for tests of what this one does to ports that others use.
namespace isp::test {

constexpr int ReportLimitMs = 10000; // a safety limit for a silent child, never a pacing
constexpr uid_t NobodyId = 65534;

// A second process named "pty-holder": runs `body` (as the user nobody if
// asked), sends back what it returns, and stays until end().
class Child {
public:
    explicit Child(const std::function<std::string()>& body, bool asNobody = false)
    {
        int channel[2];
        if (::pipe(channel) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(channel[0]);
            ::prctl(PR_SET_NAME, "pty-holder");
            // Changing the user makes a process undumpable, which hides its
            // /proc files from that user too; an exec would undo it.
            const bool ready = !asNobody
                || (::setgroups(0, nullptr) == 0 && ::setgid(NobodyId) == 0 && ::setuid(NobodyId) == 0
                    && ::prctl(PR_SET_DUMPABLE, 1) == 0);
            const std::string result = ready ? body() : "no privileges";
            [[maybe_unused]] const auto written = ::write(channel[1], result.data(), result.size());
            ::close(channel[1]);
            for (;;)
                ::pause();
        }
        ::close(channel[1]);
        // One write of a few bytes arrives whole.
        pollfd wait{channel[0], POLLIN, 0};
        char buffer[256];
        const ssize_t n = ::poll(&wait, 1, ReportLimitMs) > 0 ? ::read(channel[0], buffer, sizeof buffer) : 0;
        report_.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        ::close(channel[0]);
    }
    ~Child() { end(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    const std::string& report() const { return report_; }
    pid_t pid() const { return pid_; }

    // Once this returns the process is gone, and with it its open files.
    void end()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string report_;
};

} // namespace isp::test
