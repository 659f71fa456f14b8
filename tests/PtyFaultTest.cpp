// Faults on a real line: the real backend on pseudo-terminals, on Qt's
// event loop. The far end vanishes at every stage of a page, another
// program holds the port, and the line is noisy.
#include "app/handlers/Shell.h"
#include "app/widgets/QtTimer.h"
#include "serial/ForwardingSerialComponent.h"
#include "serial/posix/PortLock.h"
#include "serial/posix/PosixSerialPort.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedForm1.h"
#include "tests/support/SimulatedRig.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

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

namespace {

const std::string goneMessage = " the COM port went away during the upload, it is closed now! ";
const std::string notThereMessage = " this COM is not there: plug the adapter in and open it again! ";

// How often the event loop woke up while it ran for the given time: a
// handful when idle, thousands when something spins.
int wakeUpsWhileRunning(std::chrono::milliseconds duration)
{
    int wakeUps = 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    const auto connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    runFor(duration);
    QObject::disconnect(connection);
    return wakeUps;
}

class PtyFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureCoreApplication();
        form.onMessageShown = [this](const std::string&) { runFor(messageReadingTime); };
    }

    void startUpload()
    {
        shell.Form1_Load();
        openImage(shell, form, randomImage(51));
        shell.OpenUart_Click();
        ASSERT_EQ(form.caption, "Uart:open");
        device = std::make_unique<PtyBootLoader>(*pty);
        device->loader().start();
        ASSERT_TRUE(runUntil([&] { return device->loader().pagesWritten() >= 3; }, 30s));
    }

    // After the far end vanished: one message, the port closed, the loop
    // idle, and a clear word when the user tries to open the port again.
    void expectPortDroppedOnce()
    {
        ASSERT_TRUE(runUntil([&] { return form.messages.size() >= 1 && form.showing == 0; }, 10s));
        EXPECT_LT(wakeUpsWhileRunning(300ms), 100) << "the event loop must not spin after the device vanished";
        EXPECT_EQ(std::count(form.messages.begin(), form.messages.end(), goneMessage), 1);
        EXPECT_EQ(shell.state().PortOpenFlag, 0);
        EXPECT_EQ(form.caption, "Uart:close");
        EXPECT_FALSE(backend.PortOpen());
        const int pages = device->loader().pagesWritten();
        EXPECT_LE(form.progressValue, pages - 1) << "no page shown as sent that the device did not get";

        const std::size_t before = form.messages.size();
        shell.OpenUart_Click();
        ASSERT_EQ(form.messages.size(), before + 1);
        EXPECT_EQ(form.messages.back(), notThereMessage);
        EXPECT_EQ(form.caption, "Uart:close");

        // A port comes back (a new pty, most likely under another name).
        pty = std::make_unique<PseudoTerminal>();
        shell.OpenUart_Click();
        EXPECT_EQ(form.caption, "Uart:open");
        EXPECT_EQ(form.messages.size(), before + 1);
    }

    // Hangs up the far end at the moment the program queues a burst of this
    // size (3: a header, 129: a frame), a few pages into the upload.
    void vanishAsABurstIsSent(std::size_t burst)
    {
        bool hungUp = false;
        comm.setOutputObserver([&, burst](std::span<const std::uint8_t> bytes) {
            if (!hungUp && bytes.size() == burst && device && device->loader().pagesWritten() >= 3) {
                hungUp = true;
                device->hangUp();
            }
        });
        startUpload();
        ASSERT_TRUE(runUntil([&] { return hungUp; }, 10s));
        comm.setOutputObserver({});
    }

    std::unique_ptr<PseudoTerminal> pty = std::make_unique<PseudoTerminal>();
    PortDirectory directory{[this] { return std::vector<std::string>{pty->slavePath()}; }};
    PosixSerialPort backend{directory};
    ForwardingSerialComponent comm{backend};
    QtTimer timer;
    ScriptedForm1 form;
    Shell shell{comm, timer, form, SteadyClock::instance()};
    std::unique_ptr<PtyBootLoader> device;
    std::chrono::milliseconds messageReadingTime{200};
};

} // namespace

TEST_F(PtyFaults, DeviceVanishesWhileIdle)
{
    startUpload();
    // Stop asking, wait for the port to be idle, then hang up.
    device->hangUp();
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
    // A refused file: while its message shows, the far end hangs up.
    messageReadingTime = 600ms;
    form.onMessageShown = [this](const std::string& text) {
        if (text == "WARNNING: file error!")
            QTimer::singleShot(100, [this] { device->hangUp(); });
        runFor(messageReadingTime);
    };
    openWrongLengthFile(shell, form);
    EXPECT_EQ(form.messages.front(), "WARNNING: file error!");
    expectPortDroppedOnce();
}

TEST_F(PtyFaults, APortHeldByALiveProgramIsToldApartFromAStaleLock)
{
    const auto& directories = systemLockDirectories();
    if (directories.empty() || ::access(directories.front().c_str(), W_OK) != 0)
        GTEST_SKIP() << "cannot write lock files here";
    const std::filesystem::path lock =
        std::filesystem::path(directories.front()) / lockFileNames(pty->slavePath()).back();

    // A live holder: a child process that sleeps.
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::pause();
        ::_exit(0);
    }
    std::ofstream(lock) << holder << "\nterminal\nhost\n";
    shell.Form1_Load();
    ASSERT_EQ(form.entries.size(), 1u) << "a held port is listed too";
    shell.OpenUart_Click();
    EXPECT_EQ(form.messages, std::vector<std::string>{" this COM have already be opened by other program! "});
    EXPECT_EQ(form.caption, "Uart:close");

    // The holder dies and leaves its lock behind: that no longer counts.
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    shell.OpenUart_Click();
    EXPECT_EQ(form.caption, "Uart:open");
    EXPECT_EQ(form.messages.size(), 1u);
    shell.OpenUart_Click();
    std::filesystem::remove(lock);

    // Another program claimed the terminal for itself (TIOCEXCL).
    const int other = ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    shell.OpenUart_Click();
    EXPECT_EQ(form.messages.size(), 2u);
    EXPECT_EQ(form.messages.back(), " this COM have already be opened by other program! ");
    ::ioctl(other, TIOCNXCL);
    ::close(other);
    shell.OpenUart_Click();
    EXPECT_EQ(form.caption, "Uart:open");
}

TEST_F(PtyFaults, ANoisyLineStillGetsEveryPageRight)
{
    shell.Form1_Load();
    const ImageBytes image = randomImage(52);
    openImage(shell, form, image);
    shell.OpenUart_Click();

    // Garbage runs, split and doubled requests. (A pty cannot carry a wrong
    // parity bit; the simulated line covers those.)
    std::mt19937 random(52);
    VirtualBootLoader::Options options;
    options.tolerateOtherPages = true;
    options.pageOrder = {0, 1, 2, 3, 50, 100, 150, 200, 222, 223, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    device = std::make_unique<PtyBootLoader>(*pty, options);
    device->setRequestSender([&](PseudoTerminal& end, const VirtualBootLoader::Bytes& request) {
        switch (random() % 4) {
        case 0:
            end.send(std::vector<std::uint8_t>{0xC3, 0x81, 0xFE, 0x90, 0xFF, 0xFF, 0x00});
            end.send(request);
            break;
        case 1:
            end.send(std::span(request).first(2));
            QTimer::singleShot(7, [&end, request] { end.send(std::span(request).subspan(2)); });
            break;
        case 2:
            end.send(request);
            end.send(request);
            break;
        default: end.send(request);
        }
    });
    device->loader().start();
    ASSERT_TRUE(runUntil([&] { return device->loader().finished(); }, 60s)) << device->loader().pagesWritten();
    EXPECT_EQ(device->loader().violations(), std::vector<std::string>{});
    for (const int page : options.pageOrder) {
        const auto& flash = device->loader().flash();
        const auto offset = static_cast<std::ptrdiff_t>(page) * PageSize;
        EXPECT_TRUE(std::equal(flash.begin() + offset, flash.begin() + offset + PageSize, image.begin() + offset))
            << "page " << page;
    }
    EXPECT_TRUE(form.messages.empty());
}
