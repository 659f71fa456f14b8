// Times the scan of /proc for processes that have a serial device open
// (serial/posix/PortHolders.h) on this machine, and again with a crowd of
// extra processes holding many fds, as on a busy desktop. For comparison it
// also times a scan that stat()s every fd instead of reading its link first.
//   port_holders_bench [extra processes] [fds each]     (default 300 40)
#include "serial/posix/PortHolders.h"
#include "tests/support/BenchFigures.h"
#include "tests/support/PseudoTerminal.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace isp;
using Micro = std::chrono::duration<double, std::micro>;

namespace {

constexpr int WarmUpRounds = 20;
constexpr int MeasuredRounds = 500;

void report(const char* what, const std::vector<double>& micros)
{
    std::printf("%-52s n=%zu  median %7.1f us  p99 %7.1f us  max %7.1f us\n", what, micros.size(),
        test::percentile(micros, 0.5), test::percentile(micros, 0.99), test::percentile(micros, 1.0));
}

std::vector<double> timeRounds(const std::function<void()>& round)
{
    std::vector<double> micros;
    for (int i = 0; i < WarmUpRounds + MeasuredRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        round();
        const auto end = std::chrono::steady_clock::now();
        if (i >= WarmUpRounds)
            micros.push_back(Micro(end - start).count());
    }
    return micros;
}

bool isNumber(const char* name)
{
    return *name != '\0'
        && std::all_of(name, name + std::char_traits<char>::length(name), [](char c) { return c >= '0' && c <= '9'; });
}

// Calls `each` with the /proc/<pid>/fd directory of every process this user
// may read.
void forEachFdDirectory(const std::function<void(int, DIR*)>& each)
{
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return;
    while (const dirent* entry = ::readdir(proc)) {
        if (!isNumber(entry->d_name))
            continue;
        const std::string path = std::string("/proc/") + entry->d_name + "/fd";
        DIR* fds = ::opendir(path.c_str());
        if (fds == nullptr)
            continue;
        each(std::atoi(entry->d_name), fds);
        ::closedir(fds);
    }
    ::closedir(proc);
}

void countProcessesAndFds(int& processes, int& fds)
{
    processes = 0;
    fds = 0;
    forEachFdDirectory([&](int, DIR* directory) {
        ++processes;
        while (const dirent* entry = ::readdir(directory))
            fds += entry->d_name[0] != '.';
    });
}

// The plain way, as fuser does it: stat() through every fd link.
int statEveryFd(dev_t device)
{
    int found = 0;
    const pid_t self = ::getpid();
    forEachFdDirectory([&](int pid, DIR* directory) {
        if (pid == self)
            return;
        while (const dirent* entry = ::readdir(directory)) {
            struct stat opened {};
            if (entry->d_name[0] != '.' && ::fstatat(::dirfd(directory), entry->d_name, &opened, 0) == 0
                && S_ISCHR(opened.st_mode) && opened.st_rdev == device)
                ++found;
        }
    });
    return found;
}

// Returns once the other end of the pipe is closed.
void waitForClose(int fd)
{
    char byte = 0;
    while (::read(fd, &byte, 1) > 0) {}
}

// Processes that sit on `fdsEach` extra fds until the object goes.
class Crowd {
public:
    Crowd(int processes, int fdsEach)
    {
        int ready[2];
        int go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0)
            std::exit(1);
        for (int i = 0; i < processes; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(ready[0]);
                ::close(go[1]);
                const int null = ::open("/dev/null", O_RDONLY);
                for (int fd = 0; fd < fdsEach; ++fd)
                    if (::dup(null) < 0)
                        ::_exit(1);
                if (::write(ready[1], "r", 1) != 1)
                    ::_exit(1);
                waitForClose(go[0]);
                ::_exit(0);
            }
            if (child > 0)
                children_.push_back(child);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_ = go[1];
        char byte = 0;
        for (std::size_t i = 0; i < children_.size(); ++i)
            if (::read(ready[0], &byte, 1) != 1)
                std::exit(1);
        ::close(ready[0]);
    }
    ~Crowd()
    {
        ::close(go_);
        for (const pid_t child : children_)
            ::waitpid(child, nullptr, 0);
    }
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

private:
    std::vector<pid_t> children_;
    int go_ = -1;
};

// A process that holds the device open until the object goes; the newest
// process, so usually the last one the scan reaches.
class Holder {
public:
    explicit Holder(const std::string& path)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(go_) != 0)
            std::exit(1);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (::write(ready[1], fd >= 0 ? "r" : "e", 1) != 1)
                ::_exit(1);
            ::close(go_[1]);
            waitForClose(go_[0]);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go_[0]);
        char byte = 0;
        if (::read(ready[0], &byte, 1) != 1 || byte != 'r')
            std::exit(1);
        ::close(ready[0]);
    }
    ~Holder()
    {
        ::close(go_[1]);
        ::waitpid(pid_, nullptr, 0);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

private:
    pid_t pid_ = 0;
    int go_[2] = {-1, -1};
};

void measure(const std::string& slave, const char* setting)
{
    int processes = 0;
    int fds = 0;
    countProcessesAndFds(processes, fds);
    std::printf("-- %s: %d processes, %d fds readable\n", setting, processes, fds);
    struct stat node {};
    ::stat(slave.c_str(), &node);

    report("free port: whole scan (readlink, confirm by stat)", timeRounds([&] { (void)processesUsingDevice(slave); }));
    report("free port: whole scan, stat() on every fd", timeRounds([&] { (void)statEveryFd(node.st_rdev); }));
    Holder holder(slave);
    report("held port: first holder (the newest process)", timeRounds([&] { (void)firstProcessUsingDevice(slave); }));
}

} // namespace

int main(int argc, char** argv)
{
    const int extraProcesses = argc > 1 ? std::atoi(argv[1]) : 300;
    const int fdsEach = argc > 2 ? std::atoi(argv[2]) : 40;
    test::PseudoTerminal pty;
    measure(pty.slavePath(), "this machine");
    {
        const Crowd crowd(extraProcesses, fdsEach);
        const std::string setting =
            "with " + std::to_string(extraProcesses) + " more processes of " + std::to_string(fdsEach) + " fds";
        measure(pty.slavePath(), setting.c_str());
    }
    return 0;
}
