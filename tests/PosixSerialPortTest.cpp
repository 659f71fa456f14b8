// The Linux serial line under the communications control, driven over
// pseudo-terminals on the plain event loop: the test plays the far end of the
// line on the pty master. Parity bits and line time do not
// exist on a pty; the decoder of marked parity errors and the wire schedule
// are tested on their own.
#include "serial/CommControl.h"
#include "serial/WireSchedule.h"
#include "serial/posix/LowLatency.h"
#include "serial/posix/ParityErrorDecoder.h"
#include "serial/posix/PollEventLoop.h"
#include "serial/posix/PortLock.h"
#include "serial/posix/PosixLine.h"
#include "serial/posix/TermiosLine.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/ScratchFiles.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <thread>

using namespace isp;
using namespace std::chrono_literals;
using isp::test::PseudoTerminal;

namespace {

PollEventLoop& testLoop()
{
    static PollEventLoop loop;
    return loop;
}

// Runs the event loop until the condition holds or a generous time passed.
bool processEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s)
{
    return testLoop().runUntil(condition, limit);
}

void processEventsFor(std::chrono::milliseconds span)
{
    testLoop().runFor(span);
}

std::vector<std::uint8_t> allByteValues()
{
    std::vector<std::uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

std::string asString(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Simulated time: sleeping advances it at once.
class FakeClock final : public Clock {
public:
    TimePoint now() override { return now_; }
    void sleepUntil(TimePoint when) override
    {
        if (when > now_)
            doze(when - now_);
    }
    void doze(Duration duration) override
    {
        now_ += duration;
        slept += duration;
        std::this_thread::yield();
    }
    Duration slept{};

private:
    TimePoint now_{std::chrono::hours(1)};
};

// What a component call returned, carried out of a child process.
struct ChildResult {
    int number = -1;
    std::string text;
};

// Runs `body` in a child process as the unprivileged user nobody.
ChildResult runAsNobody(const std::function<ChildResult()>& body)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        ChildResult result{-2, "could not drop privileges"};
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            result = body();
        const std::string message = std::to_string(result.number) + '\n' + result.text;
        [[maybe_unused]] const auto written = ::write(channel[1], message.data(), message.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string message;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    ::waitpid(child, nullptr, 0);
    const auto newline = message.find('\n');
    if (newline == std::string::npos)
        return {};
    return {std::stoi(message.substr(0, newline)), message.substr(newline + 1)};
}

// A process that lives until the object goes.
class LiveProcess {
public:
    LiveProcess() : pid_(::fork())
    {
        if (pid_ == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~LiveProcess()
    {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

// The id of a process that has ended.
pid_t deadProcessId()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A component on COM1 = the slave of a fresh pty.
class PortOnPty : public ::testing::Test {
protected:
    PseudoTerminal pty;
    ListedPortDirectory directory{[this] { return std::vector<std::string>{pty.slavePath()}; }};
    // Characters sent apart stay one burst here, however busy the machine:
    // the burst rule is tested on its own.
    CommControl port{std::make_unique<PosixLine>(testLoop()), directory, testLoop(), std::chrono::hours(1)};

    void openPort(std::string_view settings)
    {
        ASSERT_TRUE(port.setSettings(settings));
        const CommResult opened = port.setPortOpen(true);
        ASSERT_TRUE(opened) << opened.text();
    }

    // Counts the notifications by cause.
    std::map<int, int> notifications;
    void countNotifications()
    {
        port.setOnComm([this] { ++notifications[port.CommEvent()]; });
    }
};

} // namespace

// ---- Marked parity errors --------------------------------------------------

TEST(ParityErrorDecoder, PassesDataAndUndoesTheDoubledFF)
{
    ParityErrorDecoder decoder;
    std::vector<std::uint8_t> raw;
    std::string expected;
    for (int value = 0; value < 256; ++value) {
        raw.push_back(static_cast<std::uint8_t>(value));
        if (value == 0xFF)
            raw.push_back(0xFF);
        expected.push_back(static_cast<char>(value));
    }
    std::string out;
    decoder.feed(raw, out);
    EXPECT_EQ(out, expected);
}

TEST(ParityErrorDecoder, MarksBecomeQuestionMarksHoweverTheReadsAreSplit)
{
    // 'a', an escaped FF, 'b', a byte with a parity error, 'c', a break or a
    // 00 with a parity error, 'd'.
    const std::vector<std::uint8_t> raw{'a', 0xFF, 0xFF, 'b', 0xFF, 0x00, 'x', 'c', 0xFF, 0x00, 0x00, 'd'};
    const std::string expected{'a', static_cast<char>(0xFF), 'b', '?', 'c', '?', 'd'};
    const std::span<const std::uint8_t> all(raw);
    for (std::size_t first = 0; first <= raw.size(); ++first) {
        for (std::size_t second = first; second <= raw.size(); ++second) {
            ParityErrorDecoder decoder;
            std::string out;
            decoder.feed(all.subspan(0, first), out);
            decoder.feed(all.subspan(first, second - first), out);
            decoder.feed(all.subspan(second), out);
            EXPECT_EQ(out, expected) << "split at " << first << " and " << second;
        }
    }
}

TEST(ParityErrorDecoder, ResetForgetsAHalfSeenMark)
{
    ParityErrorDecoder decoder;
    std::string out;
    const std::uint8_t mark[] = {0xFF, 0x00};
    decoder.feed(mark, out);
    decoder.reset();
    const std::uint8_t next[] = {'A'};
    decoder.feed(next, out);
    EXPECT_EQ(out, "A");
}

// ---- Lock files of other programs ------------------------------------------

TEST(PortLock, ReadsTheProcessIdOfBothLockFormats)
{
    EXPECT_EQ(pidFromLockText("      4242\n"), 4242);              // padded text (minicom, picocom)
    EXPECT_EQ(pidFromLockText("4242\nsomeapp\nsomehost\n"), 4242); // Qt's lock file
    EXPECT_EQ(pidFromLockText("4242"), 4242);
    for (const char* bad : {"", "   \n", "abc\n", "0\n", "-12\n", "12ab\n", "99999999999\n"})
        EXPECT_FALSE(pidFromLockText(bad)) << bad;
}

TEST(PortLock, NamesLockFilesAfterTheDevice)
{
    EXPECT_EQ(lockFileNames("/dev/ttyUSB0"), std::vector<std::string>{"LCK..ttyUSB0"});
    EXPECT_EQ(lockFileNames("/dev/pts/3"), (std::vector<std::string>{"LCK..3", "LCK..pts_3"}));
}

TEST(PortLock, OnlyALiveOtherProcessHoldsThePort)
{
    const auto directory = std::filesystem::temp_directory_path() / ("isp-lock-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const std::vector<std::string> directories{directory.string()};
    const std::string device = "/dev/ttyUSB7";
    EXPECT_FALSE(findLockHolder(device, directories)) << "no lock file";

    LiveProcess holder;
    {
        test::LockFile lock(directory / "LCK..ttyUSB7", "     " + std::to_string(holder.pid()) + "\n");
        const auto found = findLockHolder(device, directories);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->pid, holder.pid());
    }
    {
        test::LockFile lock(directory / "LCK..ttyUSB7", std::to_string(deadProcessId()) + "\nminicom\nhost\n");
        EXPECT_FALSE(findLockHolder(device, directories)) << "stale lock of a dead process";
    }
    {
        test::LockFile lock(directory / "LCK..ttyUSB7", std::to_string(::getpid()) + "\n");
        EXPECT_FALSE(findLockHolder(device, directories)) << "our own lock";
    }
    {
        test::LockFile lock(directory / "LCK..ttyUSB7", "not a number\n");
        EXPECT_FALSE(findLockHolder(device, directories)) << "a lock naming no process";
    }
    {
        test::LockFile lock(directory / "LCK..pts_9", std::to_string(holder.pid()) + "\nqtapp\nhost\n");
        EXPECT_TRUE(findLockHolder("/dev/pts/9", directories)) << "lock named after the path below /dev";
    }
    std::filesystem::remove_all(directory);
}

// ---- When the last byte has left the wire ----------------------------------

TEST(WireSchedule, BytesLeaveBackToBackAtTheLineRate)
{
    const auto markLine = *LineSettings::parse("38400,M,8,1");
    const Clock::TimePoint start{std::chrono::seconds(10)};
    WireSchedule wire;
    wire.noteQueued(132, start, markLine);
    // 132 bytes of 11 bits at 38400 baud: 37.8125 ms.
    EXPECT_EQ(wire.clearAt() - start, 37'812'500ns);
    // More bytes accepted while the wire is busy queue behind the first.
    wire.noteQueued(6, start + 10ms, *LineSettings::parse("38400,S,8,1"));
    EXPECT_EQ(wire.clearAt() - start, 37'812'500ns + 1'718'750ns);
    // After the wire went idle, a write starts its own time.
    wire.noteQueued(1, start + 1s, *LineSettings::parse("9600,N,8,1"));
    EXPECT_EQ(wire.clearAt() - (start + 1s), 1'041'666ns);
}

// ---- What a driver kept of the line settings --------------------------------

TEST(DroppedSettings, ADriverThatDropsMarkOrSpaceParityIsCaught)
{
    const auto mark = *LineSettings::parse("38400,M,8,1");
    const auto space = *LineSettings::parse("38400,S,8,1");
    const termios start{};
    const termios wantedMark = *termiosFor(start, mark);
    const termios wantedSpace = *termiosFor(start, space);
    EXPECT_FALSE(droppedSettings(wantedMark, wantedMark, mark, false, "/dev/ttyUSB0").any());

    // A driver without mark/space support clears CMSPAR and sends odd or even.
    termios kept = wantedMark;
    kept.c_cflag &= ~CMSPAR;
    const DroppedSetting noMarkSpace = droppedSettings(wantedMark, kept, mark, false, "/dev/ttyUSB0");
    EXPECT_EQ(noMarkSpace.refused, "send mark and space parity");
    EXPECT_NE(noMarkSpace.sentence.find("/dev/ttyUSB0"), std::string::npos) << noMarkSpace.sentence;
    kept = wantedSpace;
    kept.c_cflag &= ~CMSPAR;
    EXPECT_TRUE(droppedSettings(wantedSpace, kept, space, true, "/dev/pts/1").any()) << "not even a pty drops CMSPAR";

    // Mark turned into space.
    kept = wantedMark;
    kept.c_cflag &= ~PARODD;
    EXPECT_EQ(droppedSettings(wantedMark, kept, mark, false, "/dev/ttyUSB0").refused, "send mark parity");

    // Parity switched off: refused on a real line, the nature of a pty.
    kept = wantedMark;
    kept.c_cflag &= ~PARENB;
    EXPECT_TRUE(droppedSettings(wantedMark, kept, mark, false, "/dev/ttyUSB0").any());
    EXPECT_FALSE(droppedSettings(wantedMark, kept, mark, true, "/dev/pts/1").any());

    // Another baud rate than asked for.
    kept = wantedMark;
    cfsetospeed(&kept, B19200);
    // What was refused is named, not taken for a parity problem.
    const DroppedSetting baud = droppedSettings(wantedMark, kept, mark, false, "/dev/ttyUSB0");
    EXPECT_EQ(baud.refused, "run at 38400 baud");
    EXPECT_NE(baud.sentence.find("38400 baud"), std::string::npos);
}

// ---- Settings --------------------------------------------------------------

TEST_F(PortOnPty, StartsWithTheClassicSettingsAndARawLine)
{
    EXPECT_EQ(port.CommPort(), 1);
    EXPECT_EQ(port.Settings(), "9600,N,8,1");
    EXPECT_EQ(port.InBufferSize(), 1024);
    EXPECT_EQ(port.OutBufferSize(), 512);
    EXPECT_EQ(port.InputLen(), 0);
    EXPECT_EQ(port.RThreshold(), 0);
    EXPECT_EQ(port.SThreshold(), 0);
    EXPECT_FALSE(port.PortOpen());

    ASSERT_TRUE(port.setPortOpen(true));
    const termios mode = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&mode), B9600);
    EXPECT_EQ(mode.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(mode.c_cflag & (PARENB | CMSPAR | PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(mode.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(mode.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));
    EXPECT_EQ(mode.c_iflag & (IGNPAR | ISTRIP | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(mode.c_oflag & OPOST, 0u);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(mode.c_cc[VMIN], 1) << "a read of 0 bytes must mean a hang-up";
}

TEST_F(PortOnPty, MarkAndSpaceParityAreInForce)
{
    openPort("38400,M,8,1");
    termios mode = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&mode), B38400);
    EXPECT_EQ(cfgetispeed(&mode), B38400);
    EXPECT_EQ(mode.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
    EXPECT_EQ(mode.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(mode.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(mode.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));
    EXPECT_EQ(mode.c_iflag & (IGNPAR | ISTRIP), 0u);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u);

    // Changed while open: in force at once.
    ASSERT_TRUE(port.setSettings("38400,S,8,1"));
    EXPECT_EQ(port.Settings(), "38400,S,8,1");
    mode = pty.slaveTermios();
    EXPECT_EQ(mode.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR));
    EXPECT_EQ(mode.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));
}

TEST_F(PortOnPty, ReopeningWithTheSameParityIsAccepted)
{
    // The pty keeps the mode of the last close and drops PARENB, so setting
    // the same parity again looks like a change of PARENB alone to the
    // kernel, which refuses it. That must not fail the page sender's reopening.
    for (const char* settings : {"38400,S,8,1", "38400,S,8,1", "38400,M,8,1", "38400,M,8,1", "38400,S,8,1"}) {
        ASSERT_TRUE(port.setSettings(settings));
        const CommResult opened = port.setPortOpen(true);
        ASSERT_TRUE(opened) << settings << ": " << opened.text();
        const bool markWanted = std::string_view(settings).find(",M,") != std::string_view::npos;
        EXPECT_EQ((pty.slaveTermios().c_cflag & PARODD) != 0, markWanted) << settings;
        ASSERT_TRUE(port.setPortOpen(false));
    }
    // And the same once more while open.
    openPort("38400,M,8,1");
    EXPECT_TRUE(port.setSettings("38400,M,8,1"));
}

TEST_F(PortOnPty, RefusesChangesItCannotMake)
{
    EXPECT_EQ(port.setCommPort(0).number(), commNoSuchPort);
    EXPECT_EQ(port.setCommPort(-3).number(), commNoSuchPort);
    EXPECT_EQ(port.CommPort(), 1);

    EXPECT_EQ(port.setSettings("38400,Q,8,1").number(), commBadSettings);
    EXPECT_EQ(port.Settings(), "9600,N,8,1");

    // A baud rate termios has no constant for: accepted as text, refused at opening.
    ASSERT_TRUE(port.setSettings("12345,N,8,1"));
    const CommResult refused = port.setPortOpen(true);
    EXPECT_EQ(refused.number(), commSettingsRejected);
    EXPECT_FALSE(refused.text().empty());
    EXPECT_FALSE(port.PortOpen());

    openPort("38400,M,8,1");
    EXPECT_EQ(port.setCommPort(2).number(), commPortIsOpen);
    EXPECT_EQ(port.CommPort(), 1);
    EXPECT_EQ(port.setSettings("nonsense").number(), commBadSettings);
    // Refused while open: the settings in force stay.
    EXPECT_EQ(port.setSettings("12345,S,8,1").number(), commSettingsRejected);
    EXPECT_EQ(port.Settings(), "38400,M,8,1");
    const termios mode = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&mode), B38400);
    EXPECT_EQ(mode.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
    EXPECT_TRUE(port.PortOpen());
}

// ---- Bytes -----------------------------------------------------------------

TEST_F(PortOnPty, EveryByteValueCrossesTheLineUnchanged)
{
    openPort("38400,M,8,1");
    const auto bytes = allByteValues();
    ASSERT_TRUE(port.Output(bytes));
    EXPECT_EQ(pty.receive(bytes.size(), 5s), bytes) << "sent bytes in order";
    EXPECT_TRUE(pty.receive(1, 50ms).empty()) << "nothing added";

    // From the far end: every value, then data that looks like parity marks.
    // The line discipline doubles a received FF under PARMRK, so none of it
    // may turn into '?'.
    auto incoming = bytes;
    for (const std::uint8_t lookalike : {0xFF, 0x00, 0x41, 0xFF, 0xFF, 0x00, 0x00, 0xFF})
        incoming.push_back(lookalike);
    pty.send(incoming);
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() >= static_cast<int>(incoming.size()); }));
    processEventsFor(20ms);
    EXPECT_EQ(port.InBufferCount(), static_cast<int>(incoming.size()));
    EXPECT_EQ(port.Input(), asString(incoming));
    EXPECT_EQ(port.InBufferCount(), 0);
}

TEST_F(PortOnPty, TheLowLatencyRequestLeavesAPortWithoutItAsItWas)
{
    // A pty has no serial settings to ask (ENOTTY), like a driver without
    // the flag: the user's opening must go on as if nothing was asked.
    const int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    EXPECT_EQ(requestLowLatency(slave), LowLatency::NotOffered);
    ::close(slave);

    openPort("38400,M,8,1");
    const termios before = pty.slaveTermios();
    port.requestLowLatency();
    port.requestLowLatency();
    ASSERT_TRUE(port.PortOpen());
    const termios after = pty.slaveTermios();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));

    const auto bytes = pattern(40);
    ASSERT_TRUE(port.Output(bytes));
    EXPECT_EQ(pty.receive(bytes.size(), 5s), bytes);
    pty.send("PG\x01\x02");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 4; }));
    EXPECT_EQ(port.Input(), "PG\x01\x02");

    // Asked of a closed port, it does nothing either.
    ASSERT_TRUE(port.setPortOpen(false));
    port.requestLowLatency();
    EXPECT_FALSE(port.PortOpen());
}

TEST_F(PortOnPty, InputTakesAtMostInputLenCharacters)
{
    openPort("38400,S,8,1");
    pty.send("abcdef");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 6; }));
    port.setInputLen(4);
    EXPECT_EQ(port.Input(), "abcd");
    EXPECT_EQ(port.InBufferCount(), 2);
    EXPECT_EQ(port.Input(), "ef");
    EXPECT_EQ(port.Input(), "");
    port.setInputLen(0);
    pty.send("ghi");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 3; }));
    EXPECT_EQ(port.Input(), "ghi");
}

TEST_F(PortOnPty, ClosingDiscardsUnreadInput)
{
    openPort("38400,S,8,1");
    pty.send("stale");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 5; }));
    ASSERT_TRUE(port.setPortOpen(false));
    EXPECT_EQ(port.InBufferCount(), 0);
    EXPECT_EQ(port.Input(), "");
    openPort("38400,S,8,1");
    pty.send("new");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 3; }));
    EXPECT_EQ(port.Input(), "new");
}

// ---- Draining ----------------------------------------------------------------

TEST_F(PortOnPty, CloseDeliversEveryQueuedByteBeforeTheNextOpening)
{
    // A burst far larger than the pty takes at once, so most of it still sits
    // in the component's own queue when the port is closed.
    const auto burst = pattern(std::size_t{256} * 1024);
    std::vector<std::uint8_t> expected = burst;
    expected.push_back(0xA5);
    expected.push_back(0x5A);
    std::vector<std::uint8_t> arrived;
    std::thread farEnd([&] { arrived = pty.receive(expected.size(), 20s); });

    openPort("38400,M,8,1");
    ASSERT_TRUE(port.Output(burst));
    const std::uint8_t last[] = {0xA5};
    ASSERT_TRUE(port.Output(last));
    const CommResult closed = port.setPortOpen(false);
    EXPECT_TRUE(closed) << closed.text();

    openPort("38400,S,8,1");
    const std::uint8_t next[] = {0x5A};
    ASSERT_TRUE(port.Output(next));
    EXPECT_TRUE(port.setPortOpen(false));
    farEnd.join();
    ASSERT_EQ(arrived.size(), expected.size());
    EXPECT_TRUE(arrived == expected) << "bytes lost or reordered across the reopening";
}

TEST_F(PortOnPty, OutBufferCountFallsToZeroWithoutTheEventLoop)
{
    const auto burst = pattern(std::size_t{256} * 1024);
    openPort("38400,M,8,1");
    ASSERT_TRUE(port.Output(burst));
    // The far end reads nothing yet, and the pty holds far less than this.
    const int first = port.OutBufferCount();
    EXPECT_GT(first, 0) << "the pty cannot take the whole burst at once";
    std::vector<std::uint8_t> arrived;
    std::thread farEnd([&] { arrived = pty.receive(burst.size(), 20s); });
    // The page sender's loop: no events are processed while it polls.
    const auto guard = std::chrono::steady_clock::now() + 20s;
    int count = first;
    while (count > 0 && std::chrono::steady_clock::now() < guard) {
        std::this_thread::sleep_for(100us);
        count = port.OutBufferCount();
    }
    EXPECT_EQ(count, 0);
    farEnd.join();
    EXPECT_TRUE(arrived == burst);
}

TEST(PosixSerialPortStall, AQueueThatNeverLeavesIsDiscardedAfterTheAllowance)
{
    PseudoTerminal pty; // the far end never reads
    ListedPortDirectory directory([&] { return std::vector<std::string>{pty.slavePath()}; });
    FakeClock clock;
    PollEventLoop loop(clock);
    CommControl port(std::make_unique<PosixLine>(loop), directory, loop);
    ASSERT_TRUE(port.setSettings("38400,M,8,1"));
    ASSERT_TRUE(port.setPortOpen(true));
    ASSERT_TRUE(port.Output(pattern(std::size_t{1024} * 1024)));
    ASSERT_GT(port.OutBufferCount(), 0);

    const CommResult closed = port.setPortOpen(false);
    EXPECT_EQ(closed.number(), commTransmitStalled);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.OutBufferCount(), 0);
    EXPECT_GE(clock.slept, 2s) << "a stalled queue gets a generous time before it is discarded";
}

TEST(PosixSerialPortStall, APtyHasNoWireToWaitFor)
{
    PseudoTerminal pty;
    ListedPortDirectory directory([&] { return std::vector<std::string>{pty.slavePath()}; });
    FakeClock clock;
    PollEventLoop loop(clock);
    CommControl port(std::make_unique<PosixLine>(loop), directory, loop);
    // 2000 bytes at 300 baud would keep a real wire busy for 73 s.
    ASSERT_TRUE(port.setSettings("300,M,8,1"));
    ASSERT_TRUE(port.setPortOpen(true));
    ASSERT_TRUE(port.Output(pattern(2000)));
    EXPECT_TRUE(port.setPortOpen(false));
    EXPECT_LT(clock.slept, 1s) << "waited for a wire a pty does not have";
}

TEST_F(PortOnPty, AClosedPortRefusesOutputAndClosesQuietly)
{
    const std::uint8_t byte[] = {1};
    EXPECT_EQ(port.Output(byte).number(), commNotOpen);
    EXPECT_EQ(port.OutBufferCount(), 0);
    EXPECT_TRUE(port.setPortOpen(false));
    openPort("38400,M,8,1");
    EXPECT_TRUE(port.setPortOpen(false));
    EXPECT_TRUE(port.setPortOpen(false));
    EXPECT_EQ(port.Output(byte).number(), commNotOpen);
}

// ---- Who may open the port ---------------------------------------------------

TEST_F(PortOnPty, ALockFileOfALiveProcessMeansHeldAndAStaleOneDoesNot)
{
    const std::filesystem::path lockDirectory = systemLockDirectories().front();
    if (::access(lockDirectory.c_str(), W_OK) != 0)
        GTEST_SKIP() << "cannot write lock files in " << lockDirectory;
    const auto lockPath = lockDirectory / lockFileNames(pty.slavePath()).front();

    LiveProcess holder;
    {
        test::LockFile lock(lockPath, "      " + std::to_string(holder.pid()) + "\n");
        const CommResult held = port.setPortOpen(true);
        EXPECT_EQ(held.number(), commPortHeld);
        EXPECT_NE(held.text().find(std::to_string(holder.pid())), std::string::npos) << held.text();
        EXPECT_FALSE(port.PortOpen());
    }
    {
        test::LockFile lock(lockPath, std::to_string(deadProcessId()) + "\nsomeapp\nsomehost\n");
        const CommResult opened = port.setPortOpen(true);
        EXPECT_TRUE(opened) << opened.text();
    }
}

TEST_F(PortOnPty, AnotherProgramsExclusiveClaimMeansHeld)
{
    {
        // Another program opened the device and claimed it.
        UniqueFd other(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(other);
        ASSERT_EQ(::ioctl(other.get(), TIOCEXCL), 0);
        EXPECT_EQ(port.setPortOpen(true).number(), commPortHeld);
        EXPECT_FALSE(port.PortOpen());

        if (::getuid() == 0) {
            // Unprivileged, the kernel itself refuses the opening (EBUSY).
            ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
            const ChildResult child = runAsNobody([&] {
                ListedPortDirectory childDirectory([&] { return std::vector<std::string>{pty.slavePath()}; });
                CommControl childPort(std::make_unique<PosixLine>(testLoop()), childDirectory, testLoop());
                const CommResult result = childPort.setPortOpen(true);
                return ChildResult{result.number(), result.text()};
            });
            EXPECT_EQ(child.number, commPortHeld) << child.text;
        }
        ::ioctl(other.get(), TIOCNXCL);
    }
    const CommResult opened = port.setPortOpen(true);
    EXPECT_TRUE(opened) << opened.text();
}

TEST_F(PortOnPty, APortAnotherProgramHasOpenOrLockedIsHeldAndLeftAsItIs)
{
    // The other program's line: a terminal program's, line editing at 115200.
    termios theirs = pty.slaveTermios();
    theirs.c_lflag |= ICANON | ECHO;
    cfsetspeed(&theirs, B115200);
    ASSERT_EQ(::tcsetattr(pty.masterFd(), TCSANOW, &theirs), 0);
    const std::string device = pty.slavePath();
    const auto expectLeftAsItIs = [&] {
        const termios now = pty.slaveTermios();
        EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B115200));
        EXPECT_TRUE(now.c_lflag & ICANON) << "the other program's line settings were changed";
    };
    {
        // Opened plainly, with no lock file, claim or lock: only /proc tells.
        test::Child holder([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY) >= 0 ? "holding" : "failed"; });
        ASSERT_EQ(holder.report(), "holding");
        const CommResult held = port.setPortOpen(true);
        EXPECT_EQ(held.number(), commPortHeld);
        EXPECT_NE(held.text().find("pty-holder (process " + std::to_string(holder.pid()) + ")"), std::string::npos)
            << held.text();
        EXPECT_FALSE(port.PortOpen());
        expectLeftAsItIs();
    }
    if (::getuid() == 0) {
        // An flock of a process this user cannot see (root's, for nobody).
        ASSERT_EQ(::chmod(device.c_str(), 0666), 0);
        test::Child holder([&] {
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
            return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? "holding" : "failed";
        });
        ASSERT_EQ(holder.report(), "holding");
        const ChildResult child = runAsNobody([&] {
            ListedPortDirectory childDirectory([&] { return std::vector<std::string>{device}; });
            CommControl childPort(std::make_unique<PosixLine>(testLoop()), childDirectory, testLoop());
            const CommResult result = childPort.setPortOpen(true);
            return ChildResult{result.number(), result.text()};
        });
        EXPECT_EQ(child.number, commPortHeld) << child.text;
        EXPECT_NE(child.text.find("locked the port"), std::string::npos) << child.text;
        expectLeftAsItIs();
    }
    const CommResult opened = port.setPortOpen(true);
    EXPECT_TRUE(opened) << "free again once the other programs ended: " << opened.text();
}

TEST_F(PortOnPty, AnOpenPortIsClaimedAgainstOtherProgramsUntilClosed)
{
    openPort("38400,M,8,1");
    UniqueFd other(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(other);
    int claimed = 0;
    ASSERT_EQ(::ioctl(other.get(), TIOCGEXCL, &claimed), 0);
    EXPECT_NE(claimed, 0);
    if (::getuid() == 0) {
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
        const std::string path = pty.slavePath();
        const ChildResult child = runAsNobody([&] {
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            return ChildResult{fd < 0 ? errno : 0, ""};
        });
        EXPECT_EQ(child.number, EBUSY) << "an unprivileged program must be kept out";
    }
    ASSERT_TRUE(port.setPortOpen(false));
    ASSERT_EQ(::ioctl(other.get(), TIOCGEXCL, &claimed), 0);
    EXPECT_EQ(claimed, 0) << "the claim must end with the opening";
}

TEST_F(PortOnPty, AnUnprivilegedUserWithoutAccessIsToldAboutDialout)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    const ChildResult child = runAsNobody([&] {
        ListedPortDirectory childDirectory([&] { return std::vector<std::string>{pty.slavePath()}; });
        CommControl childPort(std::make_unique<PosixLine>(testLoop()), childDirectory, testLoop());
        const CommResult result = childPort.setPortOpen(true);
        return ChildResult{result.number(), result.text()};
    });
    EXPECT_EQ(child.number, commNoPermission) << child.text;
    EXPECT_NE(child.text.find("dialout"), std::string::npos) << child.text;
}

TEST(PosixSerialPortNaming, MissingPortsAreNoSuchPort)
{
    ListedPortDirectory directory([] { return std::vector<std::string>{"/dev/isp-no-such-device"}; });
    CommControl port(std::make_unique<PosixLine>(testLoop()), directory, testLoop());
    EXPECT_EQ(port.portLocation(1), "/dev/isp-no-such-device");
    EXPECT_EQ(port.portLocation(2), "");

    const CommResult missing = port.setPortOpen(true);
    EXPECT_EQ(missing.number(), commNoSuchPort);
    EXPECT_NE(missing.text().find("/dev/isp-no-such-device"), std::string::npos) << missing.text();

    ASSERT_TRUE(port.setCommPort(2));
    const CommResult unknown = port.setPortOpen(true);
    EXPECT_EQ(unknown.number(), commNoSuchPort);
    EXPECT_NE(unknown.text().find("COM2"), std::string::npos) << unknown.text();
    EXPECT_FALSE(port.PortOpen());
}

// ---- A vanishing device ------------------------------------------------------

TEST_F(PortOnPty, AVanishedDeviceIsReportedOnceAndClosesThePort)
{
    countNotifications();
    openPort("38400,M,8,1");
    const std::string path = pty.slavePath();
    pty.closeMaster();
    ASSERT_TRUE(processEventsUntil([&] { return notifications[comEventDeviceGone] > 0; }));
    EXPECT_FALSE(port.PortOpen());
    const std::uint8_t byte[] = {1};
    EXPECT_EQ(port.Output(byte).number(), commNotOpen);

    processEventsFor(200ms);
    EXPECT_EQ(notifications[comEventDeviceGone], 1);
    EXPECT_EQ(notifications.size(), 1u) << "no other notification";
    EXPECT_EQ(port.setPortOpen(true).number(), commNoSuchPort) << "the node of " << path << " is gone";
}

TEST_F(PortOnPty, AVanishWithOutputQueuedIsReportedOnce)
{
    countNotifications();
    openPort("38400,M,8,1");
    ASSERT_TRUE(port.Output(pattern(std::size_t{1024} * 1024))); // the far end never reads
    processEventsFor(20ms);
    ASSERT_GT(port.OutBufferCount(), 0);
    pty.closeMaster();
    ASSERT_TRUE(processEventsUntil([&] { return notifications[comEventDeviceGone] > 0; }));
    processEventsFor(200ms);
    EXPECT_EQ(notifications[comEventDeviceGone], 1);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.OutBufferCount(), 0);
}

TEST_F(PortOnPty, AVanishFoundByACallIsReportedLaterThroughTheEventLoop)
{
    countNotifications();
    openPort("38400,M,8,1");
    pty.closeMaster();
    const std::uint8_t byte[] = {0x42};
    EXPECT_EQ(port.Output(byte).number(), commDeviceGone);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(notifications.empty()) << "OnComm raised from inside Output";
    ASSERT_TRUE(processEventsUntil([&] { return notifications[comEventDeviceGone] > 0; }));
    processEventsFor(200ms);
    EXPECT_EQ(notifications[comEventDeviceGone], 1);
}

// ---- Receive notifications -----------------------------------------------------

TEST_F(PortOnPty, ReceiveIsNotifiedOnceTheThresholdIsReached)
{
    countNotifications();
    port.setRThreshold(4);
    openPort("38400,S,8,1");
    pty.send("abc");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 3; }));
    processEventsFor(200ms);
    EXPECT_EQ(notifications[comEvReceive], 0) << "3 characters are below the threshold";

    pty.send("d");
    ASSERT_TRUE(processEventsUntil([&] { return notifications[comEvReceive] > 0; }));
    processEventsFor(50ms);
    EXPECT_EQ(notifications[comEvReceive], 1);
    EXPECT_EQ(port.Input(), "abcd");

    // Without a threshold nothing is notified.
    port.setRThreshold(0);
    pty.send("efgh");
    ASSERT_TRUE(processEventsUntil([&] { return port.InBufferCount() == 4; }));
    processEventsFor(100ms);
    EXPECT_EQ(notifications[comEvReceive], 1);
}

TEST_F(PortOnPty, AHandlerRunningANestedEventLoopStillReceives)
{
    // A handler that shows a modal window runs a nested event loop; data that
    // arrives meanwhile must still be read and notified.
    port.setRThreshold(4);
    std::vector<std::string> received;
    int depth = 0;
    int deepest = 0;
    port.setOnComm([&] {
        if (port.CommEvent() != comEvReceive)
            return;
        ++depth;
        deepest = std::max(deepest, depth);
        received.push_back(port.Input());
        if (received.size() == 1) {
            pty.send("efgh");
            testLoop().runUntil([&] { return received.size() >= 2; }, 5s);
        }
        --depth;
    });
    openPort("38400,M,8,1");
    pty.send("abcd");
    ASSERT_TRUE(processEventsUntil([&] { return received.size() >= 2 && depth == 0; }));
    EXPECT_EQ(received, (std::vector<std::string>{"abcd", "efgh"}));
    EXPECT_EQ(deepest, 2) << "the second notification came inside the first handler's loop";
}
