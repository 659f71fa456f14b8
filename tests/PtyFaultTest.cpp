// Faults on a real line: the real Linux line on pseudo-terminals, on the
// plain event loop. The far end vanishes at every stage of a page, another
// program holds the port, and the line is noisy.
#include "serial/posix/PortLock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PtyRig.h"
#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;
using isp::test::Child;

namespace {

const std::string goneMessage = " the COM port went away during the upload, it is closed now! ";
const std::string notThereMessage = " this COM is not there: plug the adapter in and open it again! ";

class PtyFaults : public ::testing::Test {
protected:
    void SetUp() override { rig.form.messageReadingTime = 200ms; }

    void startUpload()
    {
        rig.startUpload(randomImage(51));
        ASSERT_EQ(rig.form.caption, "Uart:open");
        ASSERT_TRUE(rig.runUntil([&] { return rig.device->loader().pagesWritten() >= 3; }, 30s));
    }

    // How often the event loop woke up while it ran for the given time: a
    // handful when idle, thousands when something spins.
    std::uint64_t wakeUpsWhileRunning(std::chrono::milliseconds duration)
    {
        const auto before = rig.loop.wakeUps();
        rig.loop.runFor(duration);
        return rig.loop.wakeUps() - before;
    }

    // After the far end vanished: one message, the port closed, the loop
    // idle, and a clear word when the user tries to open the port again.
    void expectPortDroppedOnce()
    {
        ASSERT_TRUE(rig.runUntil([&] { return rig.form.messages.size() >= 1 && rig.form.showing == 0; }, 10s));
        EXPECT_LT(wakeUpsWhileRunning(300ms), 100u) << "the event loop must not spin after the device vanished";
        EXPECT_EQ(std::count(rig.form.messages.begin(), rig.form.messages.end(), goneMessage), 1);
        EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
        EXPECT_EQ(rig.form.caption, "Uart:close");
        EXPECT_FALSE(rig.control.PortOpen());
        const int pages = rig.device->loader().pagesWritten();
        EXPECT_LE(rig.form.progressValue, pages - 1) << "no page shown as sent that the device did not get";

        const std::size_t before = rig.form.messages.size();
        rig.shell.OpenUart_Click();
        ASSERT_EQ(rig.form.messages.size(), before + 1);
        EXPECT_EQ(rig.form.messages.back(), notThereMessage);
        EXPECT_EQ(rig.form.caption, "Uart:close");
    }

    // Hangs up the far end at the moment the program queues a burst of this
    // size (3: a header, 129: a frame), a few pages into the upload.
    void vanishAsABurstIsSent(std::size_t burst)
    {
        bool hungUp = false;
        rig.comm.setOutputObserver([&, burst](std::span<const std::uint8_t> bytes) {
            if (!hungUp && bytes.size() == burst && rig.device && rig.device->loader().pagesWritten() >= 3) {
                hungUp = true;
                rig.unplug();
            }
        });
        startUpload();
        ASSERT_TRUE(rig.runUntil([&] { return hungUp; }, 10s));
        rig.comm.setOutputObserver({});
    }

    PtyRig rig;
};

} // namespace

TEST_F(PtyFaults, DeviceVanishesWhileIdle)
{
    startUpload();
    // Stop asking, wait for the port to be idle, then hang up.
    rig.unplug();
    expectPortDroppedOnce();
}

TEST_F(PtyFaults, DeviceVanishesJustAsAHeaderIsSent)
{
    vanishAsABurstIsSent(3);
    expectPortDroppedOnce();
}

TEST_F(PtyFaults, DeviceVanishesJustAsAFrameIsSent)
{
    vanishAsABurstIsSent(129);
    expectPortDroppedOnce();
}

TEST_F(PtyFaults, DeviceVanishesWhileAMessageIsOnScreen)
{
    startUpload();
    // A refused file: while its message shows, the far end hangs up, just
    // after a page is in (a page on its way when a pty's master closes is
    // lost unread, which the program cannot know).
    rig.form.messageReadingTime = 600ms;
    bool shown = false;
    rig.form.onMessageShown = [&](const std::string& text) {
        if (text != "WARNNING: file error!")
            return;
        shown = true;
        rig.device->setOnPageWritten([&] {
            rig.device->setOnPageWritten({});
            EXPECT_GT(rig.form.showing, 0) << "the message was gone before the device";
            rig.unplug();
        });
    };
    openWrongLengthFile(rig.shell, rig.form);
    EXPECT_TRUE(shown);
    EXPECT_EQ(rig.form.messages.front(), "WARNNING: file error!");
    expectPortDroppedOnce();
}

TEST_F(PtyFaults, APortHeldByALiveProgramIsToldApartFromAStaleLock)
{
    const auto& directories = systemLockDirectories();
    if (directories.empty() || ::access(directories.front().c_str(), W_OK) != 0)
        GTEST_SKIP() << "cannot write lock files here";
    const std::filesystem::path lock =
        std::filesystem::path(directories.front()) / lockFileNames(rig.pty->slavePath()).back();

    // A live holder: a second process that stays until it is ended. It and
    // its lock file go with the test, however the test ends.
    test::Child holder([] { return std::string("alive"); });
    ASSERT_EQ(holder.report(), "alive");
    const test::LockFile lockFile(lock, std::to_string(holder.pid()) + "\nterminal\nhost\n");
    rig.shell.Form1_Load();
    ASSERT_EQ(rig.form.entries.size(), 1u) << "a held port is listed too";
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.messages, std::vector<std::string>{" this COM have already be opened by other program! "});
    EXPECT_EQ(rig.form.caption, "Uart:close");

    // The holder dies and leaves its lock behind: that no longer counts.
    holder.end();
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.caption, "Uart:open");
    EXPECT_EQ(rig.form.messages.size(), 1u);
    rig.shell.OpenUart_Click();

    // Another program claimed the terminal for itself (TIOCEXCL).
    const int other = ::open(rig.pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.messages.size(), 2u);
    EXPECT_EQ(rig.form.messages.back(), " this COM have already be opened by other program! ");
    ::ioctl(other, TIOCNXCL);
    ::close(other);
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.caption, "Uart:open");
}

TEST_F(PtyFaults, APortATerminalProgramHasOpenIsListedAndToldAsHeld)
{
    // A terminal program that opened the device plainly, without any claim.
    const std::string device = rig.pty->slavePath();
    auto holder = std::make_unique<Child>([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY) >= 0 ? "ok" : ""; });
    ASSERT_EQ(holder->report(), "ok");
    rig.shell.Form1_Load();
    ASSERT_EQ(rig.form.entries.size(), 1u) << "a held port is listed too";
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.messages, std::vector<std::string>{" this COM have already be opened by other program! "});
    EXPECT_EQ(rig.form.caption, "Uart:close");
    holder.reset();
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.caption, "Uart:open");
}

TEST_F(PtyFaults, ANoisyLineStillGetsEveryPageRight)
{
    const ImageBytes image = randomImage(52);

    // Garbage runs, split and doubled requests. (A pty cannot carry a wrong
    // parity bit; the simulated line covers those.)
    std::mt19937 random(52);
    VirtualBootLoader::Options options;
    options.tolerateOtherPages = true;
    options.pageOrder = {0, 1, 2, 3, 50, 100, 150, 200, 222, 223, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    rig.startUpload(image, options);
    rig.device->setRequestSender([&](PseudoTerminal& end, const VirtualBootLoader::Bytes& request) {
        switch (random() % 4) {
        case 0:
            end.send(std::vector<std::uint8_t>{0xC3, 0x81, 0xFE, 0x90, 0xFF, 0xFF, 0x00});
            end.send(request);
            break;
        case 1:
            end.send(std::span(request).first(2));
            rig.loop.runAt(rig.loop.clock().now() + 7ms, [&end, request] { end.send(std::span(request).subspan(2)); });
            break;
        case 2:
            end.send(request);
            end.send(request);
            break;
        default: end.send(request);
        }
    });
    VirtualBootLoader& device = rig.device->loader();
    ASSERT_TRUE(rig.runUntil([&] { return device.finished(); }, 60s)) << device.pagesWritten();
    EXPECT_EQ(device.violations(), std::vector<std::string>{});
    for (const int page : options.pageOrder) {
        const auto& flash = device.flash();
        const auto offset = static_cast<std::ptrdiff_t>(page) * PageSize;
        EXPECT_TRUE(std::equal(flash.begin() + offset, flash.begin() + offset + PageSize, image.begin() + offset))
            << "page " << page;
    }
    EXPECT_TRUE(rig.form.messages.empty());
}

TEST_F(PtyFaults, ComNStaysTheDeviceTheUserSawWhileItIsUnplugged)
{
    // Two adapters, by stable names (links, as udev makes them). The first
    // is unplugged, then plugged in again under the same name.
    PseudoTerminal other;
    PortLink second(other.slavePath());
    const std::string first = rig.link.path();
    ASSERT_LT(first, second.path()) << "COM1 is the first in natural order";
    rig.systemPorts = {second.path(), first};
    rig.shell.Form1_Load();
    ASSERT_EQ(rig.form.entries.size(), 2u);
    EXPECT_EQ(rig.form.entries[0].location, first);
    EXPECT_EQ(rig.shell.state().PortNumber, 1);

    rig.unplug();
    rig.systemPorts = {second.path()};
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.messages, std::vector<std::string>{notThereMessage});
    EXPECT_EQ(rig.form.caption, "Uart:close");
    EXPECT_FALSE(rig.control.PortOpen()) << "COM1 opened another adapter";

    // Plugged in again: the same node, a new device behind it.
    rig.pty = std::make_unique<PseudoTerminal>();
    rig.link.pointAt(rig.pty->slavePath());
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.caption, "Uart:open");
    EXPECT_EQ(rig.form.messages.size(), 1u);
    EXPECT_TRUE(rig.pty->slaveTermios().c_cflag & CMSPAR) << "COM1 is not the adapter plugged in again";
    rig.shell.OpenUart_Click();
}
