// A whole upload and its faults, driven by a strict boot loader on the
// simulated line: every byte, its parity bit and its timing are checked.
#include "tests/support/SimulatedRig.h"
#include "transfer/PageFrame.h"
#include "transfer/Protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

void expectCleanUpload(const VirtualBootLoader& loader, const ImageBytes& image)
{
    EXPECT_TRUE(loader.finished());
    EXPECT_EQ(loader.violations(), std::vector<std::string>{});
    EXPECT_EQ(loader.pagesWritten(), PageCount);
    EXPECT_EQ(loader.retries(), 0);
    EXPECT_TRUE(loader.flash() == image) << "the device's flash differs from the file";
}

} // namespace

TEST(Upload, WholeImageReachesTheDeviceWithTheRightParityAndTiming)
{
    SimulatedRig rig;
    const ImageBytes image = randomImage(1);
    rig.startReadyToUpload(image);
    auto loader = rig.attachBootLoader(1);
    loader->start();

    ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->finished(); }, 60s));
    rig.scheduler.runFor(100ms);

    expectCleanUpload(*loader, image);
    EXPECT_EQ(rig.form.progressValue, 223);
    EXPECT_EQ(rig.form.progressHistory.size(), 224u);
    EXPECT_EQ(rig.shell.state().PageNumber, IdlePage);
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 1);
    EXPECT_TRUE(rig.MSComm1.PortOpen());
    EXPECT_EQ(rig.line.discardedBytes(), 0u);
    for (const auto gap : loader->gaps())
        ASSERT_GE(gap, 20ms);
    EXPECT_TRUE(rig.form.messages.empty());
}

TEST(Upload, PagesInAnyOrderAndAnySplitOfTheRequest)
{
    SimulatedRig rig;
    const ImageBytes image = randomImage(2);
    rig.startReadyToUpload(image);
    VirtualBootLoader::Options options;
    for (int page = PageCount - 1; page >= 0; --page)
        options.pageOrder.push_back(page);
    // c2 + c3 split every way the limits allow.
    options.split = [](int page) {
        const int lowest = std::max(0, page - MaxFirstAddend);
        const int highest = std::min(page, MaxSecondAddend);
        const int c3 = page % 3 == 0 ? lowest : page % 3 == 1 ? highest : (lowest + highest) / 2;
        return std::pair<int, int>{page - c3, c3};
    };
    auto loader = rig.attachBootLoader(1, options);
    loader->start();
    ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->finished(); }, 60s));
    expectCleanUpload(*loader, image);
    EXPECT_EQ(rig.form.progressValue, 0) << "the bar shows the page just sent";
}

TEST(Upload, GoesOnWhileAMessageIsOnScreen)
{
    SimulatedRig rig;
    const ImageBytes image = randomImage(3);
    rig.startReadyToUpload(image);
    auto loader = rig.attachBootLoader(1);
    loader->start();
    rig.scheduler.runFor(200ms);
    const int pagesBefore = loader->pagesWritten();

    // The user opens a file of the wrong length; the message stays up for 3 s.
    rig.form.messageReadingTime = 3s;
    int pagesWhileShowing = 0;
    rig.form.onMessageShown = [&](const std::string&) { pagesWhileShowing = -loader->pagesWritten(); };
    openWrongLengthFile(rig.shell, rig.form);
    pagesWhileShowing += loader->pagesWritten();

    EXPECT_EQ(rig.form.messages, std::vector<std::string>{"WARNNING: file error!"});
    EXPECT_GT(pagesBefore, 0);
    EXPECT_GT(pagesWhileShowing, 30) << "pages must keep going out while the message shows";
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 0) << "cleared once the user closed the message";
    // The next request finds no image and is not answered.
    const int pagesAfter = loader->pagesWritten();
    rig.scheduler.runFor(2s);
    EXPECT_EQ(loader->pagesWritten(), pagesAfter);
    EXPECT_EQ(loader->violations(), std::vector<std::string>{});
}

TEST(Upload, ANewImageIsSentFromTheNextPageOn)
{
    SimulatedRig rig;
    const ImageBytes first = randomImage(4);
    const ImageBytes second = randomImage(5);
    rig.startReadyToUpload(first);
    auto loader = rig.attachBootLoader(1);
    loader->start();
    ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->pagesWritten() == 100; }, 60s));
    rig.loadImage(second);
    ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->finished(); }, 60s));
    EXPECT_EQ(loader->violations(), std::vector<std::string>{});
    const auto& flash = loader->flash();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + std::ptrdiff_t{100} * PageSize, first.begin()));
    // The page being asked for at the switch may come from either image.
    EXPECT_TRUE(std::equal(
        flash.begin() + std::ptrdiff_t{101} * PageSize, flash.end(), second.begin() + std::ptrdiff_t{101} * PageSize));
}

TEST(Upload, AStalledLineClosesThePortAndTellsTheUser)
{
    SimulatedRig rig;
    rig.startReadyToUpload(randomImage(6));
    auto loader = rig.attachBootLoader(1);
    loader->start();
    ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->pagesWritten() == 10; }, 60s));
    rig.line.device(1)->stallTransmit(true);
    Clock::TimePoint toldAt{};
    rig.form.onMessageShown = [&](const std::string&) { toldAt = rig.scheduler.time(); };
    const Clock::TimePoint stalledAt = rig.scheduler.time();

    ASSERT_TRUE(rig.scheduler.runUntil([&] { return !rig.form.messages.empty(); }, 30s));
    EXPECT_EQ(rig.form.messages.front(), " the COM port stopped sending, it is closed now! ");
    // The page sender waits 2 s for the stuck bytes; closing does not wait
    // for them again. (The next request comes within 0.4 s.)
    EXPECT_LT(toldAt - stalledAt, 2s + 500ms) << "the window froze twice as long for one stall";
    rig.scheduler.runFor(1s);
    EXPECT_EQ(rig.form.messages.size(), 1u);
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
    EXPECT_EQ(rig.form.caption, "Uart:close");
    EXPECT_FALSE(rig.MSComm1.PortOpen());
    EXPECT_EQ(rig.form.progressValue, 9) << "the stuck page is not shown as sent";

    // The program still answers: the user can open the port again and the
    // upload carries on once the line moves.
    rig.line.device(1)->stallTransmit(false);
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.caption, "Uart:open");
}

TEST(Upload, AVanishedDeviceEndsInOneMessageAndAClosedPort)
{
    for (const auto when : {0ms, 1ms, 5ms, 21ms, 25ms, 40ms, 55ms}) {
        SCOPED_TRACE(when.count());
        SimulatedRig rig;
        rig.startReadyToUpload(randomImage(7));
        auto loader = rig.attachBootLoader(1);
        loader->start();
        ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->pagesWritten() == 3; }, 60s));
        // Pull the adapter at points spread over one page's request,
        // header and frame.
        rig.scheduler.atLine(rig.scheduler.time() + when, [&] { rig.line.vanish(1); });
        rig.scheduler.runFor(3s);

        EXPECT_EQ(rig.form.messages,
            std::vector<std::string>{" the COM port went away during the upload, it is closed now! "});
        EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
        EXPECT_EQ(rig.form.caption, "Uart:close");
        EXPECT_FALSE(rig.MSComm1.PortOpen());
        EXPECT_LE(rig.form.progressValue, 2) << "a page cut short is not shown as sent";

        // Opening again says the port is not there, until it is back.
        rig.shell.OpenUart_Click();
        EXPECT_EQ(rig.form.messages.back(), " this COM is not there: plug the adapter in and open it again! ");
        rig.line.reappear(1);
        rig.shell.OpenUart_Click();
        EXPECT_EQ(rig.form.caption, "Uart:open");
    }
}

TEST(Upload, ANoisyLineStillGetsEveryPageRight)
{
    SimulatedRig rig;
    const ImageBytes image = randomImage(8);
    rig.startReadyToUpload(image);
    std::mt19937 random(8);
    int noisy = 0;
    // Each request goes out with one kind of trouble, picked at random.
    auto sender = [&](DeviceEnd& end, const VirtualBootLoader::Bytes& request) {
        switch (random() % 6) {
        case 0: // garbage before the request
            end.send({0xC3, 0x81, 0xFE}, true);
            end.send(request, true);
            break;
        case 1: // a byte of the request with the wrong parity bit
            end.send({request[0], request[1]}, true);
            end.send({request[2]}, false);
            end.send({request[3]}, true);
            break;
        case 2: // the request in two halves, far apart
            end.send({request[0], request[1]}, true);
            rig.scheduler.atLine(rig.scheduler.time() + 7ms, [&end, request] {
                end.send({request[2], request[3]}, true);
            });
            break;
        case 3: // the same request twice, back to back
            end.send(request, true);
            end.send(request, true);
            break;
        case 4: // a run of wrong-parity garbage
            end.send({0x12, 0x34, 0x56, 0x78, 0x9A}, false);
            end.send(request, true);
            break;
        default:
            end.send(request, true);
            --noisy;
            break;
        }
        ++noisy;
    };
    VirtualBootLoader::Options options;
    options.tolerateOtherPages = true;
    auto loader = rig.attachBootLoader(1, options, sender);
    loader->start();

    ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->finished(); }, 600s)) << loader->pagesWritten();
    EXPECT_EQ(loader->violations(), std::vector<std::string>{});
    EXPECT_TRUE(loader->flash() == image);
    EXPECT_GT(noisy, 100);
    EXPECT_GT(loader->retries() + loader->answersDropped(), 0) << "the noise did get in the way";
    EXPECT_TRUE(rig.form.messages.empty());
}

// ---- Through a USB adapter that holds short input --------------------------

namespace {

struct AdapterUpload {
    SimulatedRig rig;
    ImageBytes image = randomImage(9);
    std::unique_ptr<VirtualBootLoader> loader;

    explicit AdapterUpload(const UsbAdapter& adapter)
    {
        rig.line.addPort(1);
        rig.line.plugAdapter(1, adapter);
        rig.shell.Form1_Load();
        rig.loadImage(image);
    }

    void run()
    {
        // A device that programs a page for longer than the program's 10 ms
        // pause after it: its requests are not hidden behind the pause, so
        // every gap shows the whole time the adapter held the request.
        VirtualBootLoader::Options options;
        options.programmingTime = 12ms;
        loader = rig.attachBootLoader(1, options);
        loader->start();
        ASSERT_TRUE(rig.scheduler.runUntil([&] { return loader->finished(); }, 60s));
        expectCleanUpload(*loader, image);
    }

    // From a request's last character on the wire to the header's first.
    Clock::Duration longestGap() const { return *std::max_element(loader->gaps().begin(), loader->gaps().end()); }
    Clock::Duration shortestGap() const { return *std::min_element(loader->gaps().begin(), loader->gaps().end()); }
};

} // namespace

TEST(UsbAdapter, TheUsersOpeningAsksForLowLatencyOnceAndTheAdapterKeepsItUntilUnplugged)
{
    AdapterUpload upload(UsbAdapter::ftdi());
    EXPECT_FALSE(upload.rig.line.runsLowLatency(1));
    upload.rig.shell.OpenUart_Click();
    EXPECT_TRUE(upload.rig.line.runsLowLatency(1));

    upload.run();
    EXPECT_EQ(upload.rig.line.lowLatencyRequests(), 1) << "the page sender's reopenings asked again";
    // Each request was held 1 ms at most, on top of the 20 ms the program
    // waits after it.
    EXPECT_GE(upload.shortestGap(), 20ms);
    EXPECT_LE(upload.longestGap(), 21ms + 200us);

    // Unplugged, the adapter forgets it; the next opening asks again.
    upload.rig.line.vanish(1);
    upload.rig.scheduler.runFor(100ms);
    EXPECT_FALSE(upload.rig.line.runsLowLatency(1));
    upload.rig.line.reappear(1);
    upload.rig.shell.OpenUart_Click();
    ASSERT_EQ(upload.rig.form.caption, "Uart:open");
    EXPECT_TRUE(upload.rig.line.runsLowLatency(1));
    EXPECT_EQ(upload.rig.line.lowLatencyRequests(), 2);
}

TEST(UsbAdapter, WithoutLowLatencyARequestWaitsUpToTheLatencyTimer)
{
    UsbAdapter adapter = UsbAdapter::ftdi();
    adapter.driverOffersLowLatency = false;
    AdapterUpload upload(adapter);
    upload.rig.shell.OpenUart_Click();
    EXPECT_FALSE(upload.rig.line.runsLowLatency(1));

    upload.run();
    EXPECT_GE(upload.shortestGap(), 20ms);
    EXPECT_GT(upload.longestGap(), 28ms) << "requests were held for most of the 16 ms timer";
    EXPECT_LE(upload.longestGap(), 36ms + 200us);
}
