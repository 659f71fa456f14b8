// Who else is using a serial port, on pseudo-terminals: second processes
// open the pty slave the way a terminal program would (plainly, or with an
// flock), and report through a pipe when they have it.
#include "serial/posix/PortHolders.h"
#include "serial/posix/PortAvailability.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace isp;
using isp::test::Child;
using isp::test::PseudoTerminal;
namespace fs = std::filesystem;

namespace {

std::function<std::string()> opening(const std::string& device, bool withFlock = false)
{
    return [=] {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd >= 0 && (!withFlock || ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? "holding" : "failed";
    };
}

int openHere(const std::string& device)
{
    return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

std::string pidsOf(const std::vector<PortHolder>& holders)
{
    std::string text;
    for (const PortHolder& holder : holders)
        text += std::to_string(holder.pid) + ' ';
    return text;
}

// ---- The /proc scan ---------------------------------------------------------

TEST(PortHolders, FindsAnotherProcessThatHasThePortOpenUntilItEnds)
{
    PseudoTerminal pty;
    PseudoTerminal otherPty;
    const int ours = openHere(pty.slavePath());
    ASSERT_GE(ours, 0);
    EXPECT_TRUE(processesUsingDevice(pty.slavePath()).empty()) << "this process's own opening counted";

    Child holder(opening(pty.slavePath()));
    ASSERT_EQ(holder.report(), "holding");
    const std::vector<PortHolder> expected{{holder.pid(), "pty-holder"}};
    EXPECT_EQ(processesUsingDevice(pty.slavePath()), expected);
    EXPECT_EQ(firstProcessUsingDevice(pty.slavePath()), expected.front());
    EXPECT_TRUE(processesUsingDevice(otherPty.slavePath()).empty()) << "another terminal of the same driver";
    // Named through a link, as /dev/serial/by-id/... names a USB adapter.
    const fs::path link = fs::temp_directory_path() / ("isp-holders-link-" + std::to_string(::getpid()));
    fs::create_symlink(pty.slavePath(), link);
    EXPECT_EQ(processesUsingDevice(link.string()), expected);
    fs::remove(link);

    holder.end();
    EXPECT_FALSE(firstProcessUsingDevice(pty.slavePath()));
    ::close(ours);
}

TEST(PortHolders, ProcessesOfOtherUsersAreNotSeenAndDoNotStopTheScan)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to run processes as two users";
    PseudoTerminal pty;
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
    Child holder(opening(pty.slavePath()), true);
    ASSERT_EQ(holder.report(), "holding");
    // Root has it open too (this process, which nobody may not look into,
    // nor into the other root processes the scan passes).
    const int ours = openHere(pty.slavePath());
    ASSERT_GE(ours, 0);
    Child scanner([&] { return pidsOf(processesUsingDevice(pty.slavePath())); }, true);
    EXPECT_EQ(scanner.report(), std::to_string(holder.pid()) + " ");
    ::close(ours);
}

TEST(PortHolders, NamesHoldersForMessages)
{
    using namespace std::string_view_literals;
    EXPECT_EQ(programNameFrom("picocom\n", "picocom\0-b\0"sv), "picocom");
    // The kernel cuts command names to 15 characters; the command line
    // continues one, unless a program rewrote it or has none.
    EXPECT_EQ(programNameFrom("port_holders_te\n", "/usr/bin/port_holders_test\0-v\0"sv), "port_holders_test");
    EXPECT_EQ(programNameFrom("serial-monitor1\n", "worker: /dev/ttyUSB0\0"sv), "serial-monitor1");
    EXPECT_EQ(programNameFrom("kworker/0:1-eve\n", ""), "kworker/0:1-eve");

    EXPECT_EQ(describeHolders({{7, "cat"}, {8, ""}, {9, "minicom"}}),
        "held by cat (process 7), process 8 and minicom (process 9)");
}

// ---- flock ------------------------------------------------------------------

TEST(PortFlock, AnotherOpeningsLockRefusesOursAndNamesItsHolder)
{
    PseudoTerminal pty;
    Child holder(opening(pty.slavePath(), true));
    ASSERT_EQ(holder.report(), "holding");
    const int first = openHere(pty.slavePath());
    const FlockResult refused = claimWithFlock(first);
    EXPECT_EQ(refused.claim, FlockClaim::HeldElsewhere);
    EXPECT_EQ(refused.holder, (PortHolder{holder.pid(), "pty-holder"}));

    holder.end();
    EXPECT_EQ(claimWithFlock(first).claim, FlockClaim::Claimed);
    // Ours keeps out every other opening, this program's own included, and
    // goes with the descriptor.
    const int second = openHere(pty.slavePath());
    const FlockResult ownLock = claimWithFlock(second);
    EXPECT_EQ(ownLock.claim, FlockClaim::HeldElsewhere);
    EXPECT_EQ(ownLock.holder.value_or(PortHolder{}).pid, ::getpid());
    ::close(first);
    EXPECT_EQ(claimWithFlock(second).claim, FlockClaim::Claimed);
    ::close(second);
}

TEST(PortFlock, ReadsTheHolderFromProcLocks)
{
    const std::string locks = "1: POSIX  ADVISORY  WRITE 11 00:1a:90 0 EOF\n"
                              "2: FLOCK  ADVISORY  WRITE 12 00:1a:91 0 EOF\n"
                              "3: FLOCK  ADVISORY  WRITE 13 00:06:90 0 EOF\n"
                              "4: -> FLOCK  ADVISORY  WRITE 15 00:1a:90 0 EOF\n"
                              "4: FLOCK  ADVISORY  WRITE 14 00:1a:90 0 EOF\n";
    EXPECT_EQ(flockHolderIn(locks, ::makedev(0, 0x1a), 90), 14) << "not the waiter (->), nor other files";
}

// ---- Free, held, no permission, missing -------------------------------------

TEST(PortAvailability, TellsFreeHeldAndMissingWithoutOpeningTheDevice)
{
    PseudoTerminal pty;
    const fs::path lockDirectory = fs::temp_directory_path() / ("isp-holders-lock-" + std::to_string(::getpid()));
    fs::create_directories(lockDirectory);
    const auto check = [&] { return checkPortAvailability(pty.slavePath(), {lockDirectory.string()}); };
    // inotify reports every opening of the node.
    const int openings = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(openings, pty.slavePath().c_str(), IN_OPEN), 0);
    char events[4096];

    EXPECT_EQ(describe(check()), "free");
    EXPECT_LT(::read(openings, events, sizeof events), 0) << "the check opened the device";
    {
        Child holder(opening(pty.slavePath()));
        ASSERT_EQ(holder.report(), "holding");
        while (::read(openings, events, sizeof events) > 0) {} // the holder's opening
        EXPECT_EQ(describe(check()), "held by pty-holder (process " + std::to_string(holder.pid()) + ")");
    }
    EXPECT_EQ(check().state, PortState::Free) << "the holder has ended";
    {
        // A live process's lock file, named as other programs name it for
        // /dev/pts/N; the process need not have the port open (yet).
        Child locker([] { return "alive"; });
        const fs::path lockFile = lockDirectory / ("LCK.." + fs::path(pty.slavePath()).filename().string());
        std::ofstream(lockFile) << "      " << locker.pid() << "\n";
        const PortAvailability locked = check();
        EXPECT_EQ(locked.state, PortState::Held);
        EXPECT_EQ(locked.lockFile, lockFile.string());
        EXPECT_EQ(locked.holders, (std::vector<PortHolder>{{locker.pid(), "pty-holder"}}));
    }
    EXPECT_LT(::read(openings, events, sizeof events), 0) << "the checks opened the device";
    ::close(openings);
    fs::remove_all(lockDirectory);

    EXPECT_EQ(checkPortAvailability("/dev/ttyNoSuchPort7").state, PortState::Missing);
    const std::string slave = pty.slavePath();
    pty.closeMaster(); // the pty goes, as an unplugged adapter does
    EXPECT_EQ(checkPortAvailability(slave).state, PortState::Missing);
}

TEST(PortAvailability, NoPermissionWhenThisUserMayNotReadAndWriteIt)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    PseudoTerminal pty; // its slave belongs to root and is closed to others
    Child nobody([&] { return describe(checkPortAvailability(pty.slavePath())); }, true);
    EXPECT_EQ(nobody.report(), "no permission");
}

} // namespace
