// A whole upload through the real Linux backend and Qt's real event loop,
// with the boot loader on the master side of a pseudo-terminal.
#include "app/handlers/Shell.h"
#include "app/widgets/QtTimer.h"
#include "serial/ForwardingSerialComponent.h"
#include "serial/posix/PosixSerialPort.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedForm1.h"
#include "tests/support/SimulatedRig.h"
#include "transfer/Protocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <fstream>
#include <termios.h>

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
        ensureCoreApplication();
        comm.setOutputObserver([this](std::span<const std::uint8_t> bytes) {
            const termios t = pty.slaveTermios();
            bursts.push_back({bytes.size(), t.c_cflag, cfgetospeed(&t)});
        });
        // A modal message keeps the event loop running until "ok".
        form.onMessageShown = [this](const std::string&) { runFor(messageReadingTime); };
    }

    void loadImage(const ImageBytes& image) { openImage(shell, form, image); }

    PseudoTerminal pty;
    PortDirectory directory{[this] { return std::vector<std::string>{pty.slavePath()}; }};
    PosixSerialPort backend{directory};
    ForwardingSerialComponent comm{backend};
    QtTimer timer;
    ScriptedForm1 form;
    Shell shell{comm, timer, form, SteadyClock::instance()};
    std::vector<QueuedBurst> bursts;
    std::chrono::milliseconds messageReadingTime{300};
};

} // namespace

TEST_F(PtyUpload, WholeImageArrivesInOrderWithTheLineSetForEachBurst)
{
    shell.Form1_Load();
    ASSERT_EQ(form.portText(), "COM1");
    EXPECT_EQ(form.entries.at(0).location, pty.slavePath());
    const ImageBytes image = randomImage(41);
    loadImage(image);
    shell.OpenUart_Click();
    ASSERT_EQ(form.caption, "Uart:open");

    PtyBootLoader device(pty);
    device.loader().start();
    ASSERT_TRUE(runUntil([&] { return device.loader().finished(); }, 120s))
        << device.loader().pagesWritten() << " pages";

    EXPECT_EQ(device.loader().violations(), std::vector<std::string>{});
    EXPECT_TRUE(device.loader().flash() == image);
    EXPECT_EQ(device.loader().retries(), 0);
    EXPECT_EQ(form.progressValue, 223);
    EXPECT_EQ(shell.state().PageNumber, IdlePage);
    EXPECT_TRUE(form.messages.empty());

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
    shell.Form1_Load();
    loadImage(randomImage(42));
    shell.OpenUart_Click();
    PtyBootLoader device(pty);
    device.loader().start();
    ASSERT_TRUE(runUntil([&] { return device.loader().pagesWritten() >= 5; }, 30s));

    // A refused file: the message stays up for a while, pages keep going.
    messageReadingTime = 1000ms;
    const int before = device.loader().pagesWritten();
    int during = 0;
    form.onMessageShown = [&](const std::string&) {
        runFor(messageReadingTime);
        during = device.loader().pagesWritten() - before;
    };
    openWrongLengthFile(shell, form);
    EXPECT_GT(during, 3) << "pages must keep going out while the message shows";
    EXPECT_EQ(shell.state().FileLoadedFlag, 0);

    // Load a good image again, then pull the far end away mid-upload.
    form.onMessageShown = [this](const std::string&) { runFor(messageReadingTime); };
    loadImage(randomImage(43));
    ASSERT_TRUE(runUntil([&] { return device.loader().pagesWritten() >= before + during + 3; }, 30s));
    device.hangUp();
    ASSERT_TRUE(
        runUntil([&] { return !form.messages.empty() && form.showing == 0 && form.messages.size() >= 2; }, 10s));
    runFor(300ms);
    ASSERT_EQ(form.messages.size(), 2u) << "one message for the vanished device";
    EXPECT_EQ(form.messages[1], " the COM port went away during the upload, it is closed now! ");
    EXPECT_EQ(shell.state().PortOpenFlag, 0);
    EXPECT_EQ(form.caption, "Uart:close");
    EXPECT_FALSE(backend.PortOpen());

    // The program still answers, and says clearly that the port is gone.
    shell.OpenUart_Click();
    ASSERT_EQ(form.messages.size(), 3u);
    EXPECT_EQ(form.messages[2], " this COM is not there: plug the adapter in and open it again! ");
}
