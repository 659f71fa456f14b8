#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether another program is using a serial device, on Linux.
//
// On Windows a COM port that one program has open cannot be opened by
// another. Linux lets any number of programs open a tty, and each opening
// raises DTR and may rewrite the line settings under the program that was
// there first. Programs announce their claim in several ways, and a port
// counts as held when any of them is seen:
// - a UUCP lock file of a live process (serial/posix/PortLock.h);
// - TIOCEXCL, which makes other unprivileged opens fail with EBUSY;
// - an flock() on the device node (picocom, and tools built on it);
// - none at all: a terminal program or a script that simply opened it. Only
//   the kernel knows; its per-process tables of open files are in
//   /proc/<pid>/fd, which is what fuser reads.
//
// The /proc scan runs before this program opens the device, so that it never
// raises DTR on, or changes the termios of, a port that another program uses.
// The flock check needs an open descriptor and runs right after the opening.
//
// What the scan sees: the processes whose /proc/<pid>/fd this user may read.
// Those of other users are unreadable (EACCES) unless this program runs as
// root, and are simply not seen: a root daemon such as ModemManager holding
// the port is found by the other checks or not at all. A process counts only when it
// opened the device through the node this program names (as its fd's link
// reads); one that made its own node elsewhere with mknod is not seen.
//
// Cost, measured with tests/bench/port_holders_bench.cpp on a 2-core virtual
// machine (Linux 6.18, shared with other work; a system call costs about
// 1 us there). With 70 processes (60 of them kernel threads) and 350 open
// fds, a whole scan takes a median of 0.4 to 1 ms, p99 0.5 to 1.4 ms. The
// time grows with the fds this user may read, about 3.5 us each (listing
// them and reading each link): with 300 more processes holding 15,000 fds,
// as on a busy desktop, the median is 52 ms and the p99 80 to 150 ms.
// Stopping at the first holder saves little: /proc lists processes by pid,
// and a terminal program started a moment ago comes near the end.
//
// The page sender reopens the port around every page (448 times per upload,
// about 17 s of line time): a scan at each reopening would add 0.2 to 0.5 s
// to an upload here, and 23 s on such a desktop, to answer a question that
// was answered when the port was first opened. Scan when the user opens the
// port and skip the page sender's immediate reopenings: while this program
// has the port open, its TIOCEXCL keeps other programs' opens out and its
// flock shows, and the gap of a reopening lasts microseconds.
//
// The scan never blocks: it opens only /proc directories, reads links
// (readlink touches no file system but /proc) and stats only an fd whose link
// names the device itself, so a FIFO or a file on a stalled network mount is
// never opened or stat'ed. Stat'ing every fd, as fuser does, costs about the
// same here, but may wait for such a mount.
namespace isp {

struct PortHolder {
    pid_t pid = 0;
    std::string program; // empty when the process ended before its name was read

    bool operator==(const PortHolder&) const = default;
};

// Every live process other than this one that has the device open (threads of
// this process are this process). Empty when the path names no character
// device, or when /proc cannot be read.
std::vector<PortHolder> processesUsingDevice(const std::string& devicePath);

// The first such process: the scan stops there.
std::optional<PortHolder> firstProcessUsingDevice(const std::string& devicePath);

// The name of a running program: its command name from /proc/<pid>/comm,
// which the kernel cuts to 15 characters; when it was cut, the name its
// command line started with, if that continues it. Empty when the process
// is gone.
std::string programName(pid_t pid);

// The same from the text of /proc/<pid>/comm and /proc/<pid>/cmdline.
std::string programNameFrom(std::string_view comm, std::string_view cmdline);

// For messages: "held by picocom (process 1234)", "held by cat (process 7)
// and minicom (process 9)"; "held by another program" when nobody is known.
std::string describeHolders(const std::vector<PortHolder>& holders);

enum class FlockClaim {
    Claimed,       // this open file now holds an exclusive flock
    HeldElsewhere, // another open file of the node holds a lock
    Unsupported,   // the file system refused flock(); nothing is known
};

struct FlockResult {
    FlockClaim claim = FlockClaim::Unsupported;
    // With HeldElsewhere: who took the lock, from /proc/locks, which lists the
    // locks of every user. Empty if it was released meanwhile.
    std::optional<PortHolder> holder;
};

// Takes an exclusive flock on an open device without waiting. A lock of
// another open file of the same node (another program's, or an earlier
// opening in this one) refuses it. Once claimed, the lock stays while the
// descriptor is open and goes with its close, so that programs that look for
// flocks, as picocom does, see this one.
FlockResult claimWithFlock(int fd);

// The process that holds an flock on the file (st_dev and st_ino) according
// to the text of /proc/locks.
std::optional<pid_t> flockHolderIn(std::string_view procLocks, dev_t fileSystem, ino_t inode);

} // namespace isp
