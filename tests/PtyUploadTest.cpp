// A whole upload through the real Linux line and the plain event loop, with
// the boot loader on the master side of a pseudo-terminal.
#include "tests/support/PtyRig.h"
#include "transfer/Protocol.h"

#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

// One burst as the program queued it, with the line settings in force.
struct QueuedBurst {
    std::size_t size;
    tcflag_t cflag;
    speed_t speed;
};

class PtyUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.comm.setOutputObserver([this](std::span<const std::uint8_t> bytes) {
            const termios t = rig.pty->slaveTermios();
            bursts.push_back({bytes.size(), t.c_cflag, cfgetospeed(&t)});
        });
        rig.form.messageReadingTime = 300ms;
    }

    PtyRig rig;
    std::vector<QueuedBurst> bursts;
};

} // namespace

TEST_F(PtyUpload, WholeImageArrivesInOrderWithTheLineSetForEachBurst)
{
    const ImageBytes image = randomImage(41);
    rig.startUpload(image);
    ASSERT_EQ(rig.form.portText(), "COM1");
    EXPECT_EQ(rig.form.entries.at(0).location, rig.link.path());
    ASSERT_EQ(rig.form.caption, "Uart:open");
    VirtualBootLoader& device = rig.device->loader();
    ASSERT_TRUE(rig.runUntil([&] { return device.finished(); }, 120s)) << device.pagesWritten() << " pages";

    EXPECT_EQ(device.violations(), std::vector<std::string>{});
    EXPECT_TRUE(device.flash() == image);
    EXPECT_EQ(device.retries(), 0);
    EXPECT_EQ(rig.form.progressValue, 223);
    EXPECT_EQ(rig.shell.state().PageNumber, IdlePage);
    EXPECT_TRUE(rig.form.messages.empty());

    // Headers went out under space parity, frames under mark parity, both
    // at 38400 baud with 8 data bits and 1 stop bit. (A pty keeps CMSPAR and
    // PARODD but clears PARENB, so PARENB is not looked at.)
    ASSERT_EQ(bursts.size(), 2u * PageCount);
    for (std::size_t i = 0; i < bursts.size(); ++i) {
        const bool header = i % 2 == 0;
        SCOPED_TRACE(i);
        ASSERT_EQ(bursts[i].size, header ? 3u : 129u);
        EXPECT_TRUE(bursts[i].cflag & CMSPAR);
        EXPECT_EQ((bursts[i].cflag & PARODD) != 0, !header);
        EXPECT_EQ(bursts[i].cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_FALSE(bursts[i].cflag & CSTOPB);
        EXPECT_EQ(bursts[i].speed, static_cast<speed_t>(B38400));
    }
}

TEST_F(PtyUpload, GoesOnWhileAMessageShowsAndSurvivesTheDeviceVanishing)
{
    rig.startUpload(randomImage(42));
    VirtualBootLoader& device = rig.device->loader();
    ASSERT_TRUE(rig.runUntil([&] { return device.pagesWritten() >= 5; }, 30s));

    // A refused file: the message stays up for a while, pages keep going.
    rig.form.messageReadingTime = 1000ms;
    const int before = device.pagesWritten();
    openWrongLengthFile(rig.shell, rig.form);
    // The flag is cleared only once the message is gone.
    const int during = device.pagesWritten() - before;
    EXPECT_GT(during, 3) << "pages must keep going out while the message shows";
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 0);

    // Load a good image again, then pull the far end away mid-upload.
    rig.form.messageReadingTime = 300ms;
    openImage(rig.shell, rig.form, randomImage(43));
    ASSERT_TRUE(rig.runUntil([&] { return device.pagesWritten() >= before + during + 3; }, 30s));
    rig.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return rig.form.messages.size() >= 2 && rig.form.showing == 0; }, 10s));
    rig.loop.runFor(300ms);
    ASSERT_EQ(rig.form.messages.size(), 2u) << "one message for the vanished device";
    EXPECT_EQ(rig.form.messages[1], " the COM port went away during the upload, it is closed now! ");
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
    EXPECT_EQ(rig.form.caption, "Uart:close");
    EXPECT_FALSE(rig.control.PortOpen());

    // The program still answers, and says clearly that the port is gone.
    rig.shell.OpenUart_Click();
    ASSERT_EQ(rig.form.messages.size(), 3u);
    EXPECT_EQ(rig.form.messages[2], " this COM is not there: plug the adapter in and open it again! ");
}

TEST(PtyRequests, StrayCharactersBeforeARequestNeverShiftIt)
{
    // As on the simulated line, through the real line: one to three stray
    // characters, then 100 ms later a clean request for page 7, after the
    // user's opening and between pages.
    const std::vector<std::vector<std::uint8_t>> strays = {{5}, {5, 6}, {5, 6, 7}};
    for (const bool betweenPages : {false, true}) {
        for (const auto& stray : strays) {
            SCOPED_TRACE(std::string(betweenPages ? "between pages, " : "after opening, ")
                + std::to_string(stray.size()) + " stray characters");
            PtyRig rig;
            rig.shell.Form1_Load();
            openImage(rig.shell, rig.form, randomImage(44));
            rig.shell.OpenUart_Click();
            std::vector<std::uint8_t> received;
            const auto watch = rig.loop.watch(rig.pty->masterFd(), EventLoop::Interest::Read, [&] {
                std::uint8_t buffer[512];
                const ssize_t n = ::read(rig.pty->masterFd(), buffer, sizeof buffer);
                received.insert(received.end(), buffer, buffer + std::max<ssize_t>(n, 0));
            });
            if (betweenPages) {
                rig.pty->send(std::vector<std::uint8_t>{'r', 'q', 0, 3});
                ASSERT_TRUE(rig.runUntil([&] { return received.size() >= 132; }, 10s));
                received.clear();
            }
            rig.pty->send(stray);
            ASSERT_TRUE(
                rig.runUntil([&] { return rig.control.InBufferCount() == static_cast<int>(stray.size()); }, 10s));
            rig.loop.runFor(100ms);
            rig.pty->send(std::vector<std::uint8_t>{0x01, 0x02, 0x00, 0x07});
            ASSERT_TRUE(rig.runUntil([&] { return received.size() >= 132; }, 10s)) << "no answer";
            EXPECT_EQ(received[2], 7) << "answered with another page than asked for";
            rig.loop.unwatch(watch);
        }
    }
}
