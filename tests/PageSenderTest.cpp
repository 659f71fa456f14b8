// The tick of Timer1 and the device's requests, one event at a time, with
// the bytes the device receives checked to the parity bit.
#include "tests/support/SimulatedRig.h"
#include "transfer/PageFrame.h"
#include "transfer/Protocol.h"

#include <gtest/gtest.h>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

struct Capture {
    std::vector<WireByte> bytes;
    std::vector<std::uint8_t> values() const
    {
        std::vector<std::uint8_t> out;
        for (const auto& byte : bytes)
            out.push_back(byte.value);
        return out;
    }
};

struct SenderRig : SimulatedRig {
    Capture capture;
    ImageBytes image = randomImage(11);

    explicit SenderRig(Clock::Duration burstGap = CommControl::BurstGap) : SimulatedRig(burstGap)
    {
        startReadyToUpload(image);
        line.device(1)->setOnByte([this](const WireByte& byte) { capture.bytes.push_back(byte); });
        MSComm1.clearOperations();
    }

    void request(const std::vector<std::uint8_t>& bytes, bool parityBit = true)
    {
        line.device(1)->send(bytes, parityBit);
        scheduler.runFor(5ms);
    }
    void tick() { shell.Timer1_Timer(); }
};

} // namespace

TEST(PageFrames, ChecksumIsTheLowByteOfTheSum)
{
    ImageBytes image{};
    EXPECT_EQ(makePageFrame(image, 0)[128], 0x00);
    std::fill(image.begin() + 128, image.begin() + 256, 0x01);
    EXPECT_EQ(makePageFrame(image, 1)[128], 0x80);
    std::fill(image.begin() + 128, image.begin() + 256, 0xFF);
    const PageFrame frame = makePageFrame(image, 1);
    EXPECT_EQ(frame[128], 0x80) << "128 * 255 = 0x7F80";
    EXPECT_TRUE(std::all_of(frame.begin(), frame.begin() + 128, [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(makePageHeader(223), (PageHeader{0x00, 0x00, 0xDF}));
}

TEST(PageSender, SendsHeaderWithSpaceParityThenFrameWithMarkParity)
{
    for (const int page : {0, 1, 123, 223}) {
        SCOPED_TRACE(page);
        SenderRig rig;
        rig.shell.state().ImageBuffer[ImageSize] = 0xEE;
        rig.shell.state().PageNumber = static_cast<std::uint8_t>(page);
        rig.tick();

        ASSERT_EQ(rig.capture.bytes.size(), 3u + 129u);
        std::vector<std::uint8_t> expected{0x00, 0x00, static_cast<std::uint8_t>(page)};
        const PageFrame frame = makePageFrame(rig.image, static_cast<std::uint8_t>(page));
        expected.insert(expected.end(), frame.begin(), frame.end());
        EXPECT_EQ(rig.capture.values(), expected);
        for (std::size_t i = 0; i < rig.capture.bytes.size(); ++i)
            ASSERT_EQ(rig.capture.bytes[i].parityBit, i >= 3) << "byte " << i;
        EXPECT_EQ(rig.form.progressValue, page);
        EXPECT_EQ(rig.shell.state().PageNumber, IdlePage);
        EXPECT_EQ(rig.line.discardedBytes(), 0u);
    }
}

TEST(PageSender, ReopensThePortInTheOrderTheBootLoaderExpects)
{
    SenderRig rig;
    rig.shell.state().PageNumber = 5;
    rig.tick();
    const std::vector<std::string> reopen = {"PortOpen=false", "CommPort=1", "Settings=38400,S,8,1", "InBufferSize=400",
        "OutBufferSize=400", "InputLen=0", "RThreshold=4", "SThreshold=0", "PortOpen=true", "Output=3 bytes",
        "PortOpen=false", "CommPort=1", "Settings=38400,M,8,1", "InBufferSize=400", "OutBufferSize=400", "InputLen=0",
        "RThreshold=4", "SThreshold=0", "PortOpen=true", "Output=129 bytes"};
    EXPECT_EQ(rig.MSComm1.operations(), reopen);
    EXPECT_TRUE(rig.MSComm1.PortOpen());
    EXPECT_EQ(rig.MSComm1.Settings(), "38400,M,8,1");
    EXPECT_EQ(rig.MSComm1.RThreshold(), 4);
    EXPECT_FALSE(rig.Timer1.Enabled());
    EXPECT_EQ(rig.Timer1.Interval(), 0);
}

TEST(PageSender, GuardFailuresSendNothingAndKeepThePendingPage)
{
    {
        SenderRig rig; // nothing pending
        rig.shell.state().PageNumber = IdlePage;
        rig.tick();
        EXPECT_TRUE(rig.MSComm1.operations().empty());
        EXPECT_EQ(rig.shell.state().PageNumber, IdlePage);
    }
    {
        SenderRig rig; // no image
        rig.shell.state().FileLoadedFlag = 0;
        rig.shell.state().PageNumber = 7;
        rig.tick();
        EXPECT_TRUE(rig.MSComm1.operations().empty());
        EXPECT_EQ(rig.shell.state().PageNumber, 7);
    }
    {
        SenderRig rig; // the user closed the port
        rig.shell.OpenUart_Click();
        rig.MSComm1.clearOperations();
        rig.shell.state().PageNumber = 7;
        rig.tick();
        EXPECT_TRUE(rig.MSComm1.operations().empty());
        EXPECT_EQ(rig.shell.state().PageNumber, 7);
    }
    {
        SenderRig rig; // 224 is one past the last page
        rig.shell.state().PageNumber = 224;
        rig.tick();
        EXPECT_TRUE(rig.capture.bytes.empty());
        EXPECT_EQ(rig.shell.state().PageNumber, 224);
    }
}

TEST(PageRequests, PageIsTheSumOfTheThirdAndFourthCharacter)
{
    struct Case {
        int c2, c3;
        int page; // -1: ignored
    };
    for (const Case c : {Case{0, 0, 0}, Case{112, 111, 223}, Case{100, 23, 123}, Case{23, 100, 123}, Case{113, 0, -1},
             Case{0, 112, -1}, Case{0x80, 0, -1}, Case{0, 0xFF, -1}, Case{112, 0, 112}}) {
        SCOPED_TRACE(std::to_string(c.c2) + "+" + std::to_string(c.c3));
        SenderRig rig;
        rig.shell.state().PageNumber = IdlePage;
        rig.request({'x', 'y', static_cast<std::uint8_t>(c.c2), static_cast<std::uint8_t>(c.c3)});
        if (c.page < 0) {
            EXPECT_EQ(rig.shell.state().PageNumber, IdlePage);
            EXPECT_FALSE(rig.Timer1.armed());
        } else {
            EXPECT_EQ(rig.shell.state().PageNumber, c.page);
            ASSERT_TRUE(rig.Timer1.armed());
            EXPECT_EQ(rig.Timer1.Interval(), 20);
        }
    }
}

TEST(PageRequests, TheAnswerComesTwentyMillisecondsAfterTheRequestAndNoSooner)
{
    SenderRig rig;
    rig.line.device(1)->send({'r', 'q', 10, 5});
    const auto requestArrived = rig.line.device(1)->sendsArriveBy();
    rig.scheduler.runFor(100ms);
    ASSERT_EQ(rig.capture.bytes.size(), 132u);
    const auto headerStart =
        rig.capture.bytes.front().finishedAt - std::chrono::nanoseconds(11 * 1'000'000'000LL / 38400);
    EXPECT_GE(headerStart - requestArrived, 20ms);
    EXPECT_EQ(rig.capture.bytes[2].value, 15);
}

TEST(PageRequests, ALaterRequestReplacesThePendingPage)
{
    SenderRig rig;
    rig.request({'r', 'q', 0, 10});
    rig.request({'r', 'q', 0, 20});
    EXPECT_EQ(rig.shell.state().PageNumber, 20);
    rig.scheduler.runFor(100ms);
    ASSERT_EQ(rig.capture.bytes.size(), 132u) << "one page only";
    EXPECT_EQ(rig.capture.bytes[2].value, 20);
}

TEST(PageRequests, SplitBunchedAndNoisyRequests)
{
    {
        // Two requests in one notification, as when they came while the
        // program was busy: the first counts, the rest is dropped.
        SenderRig rig;
        rig.line.device(1)->send({'r', 'q', 0, 30, 'r', 'q', 0, 40});
        rig.scheduler.sleepFor(5ms);
        rig.scheduler.runFor(1ms);
        EXPECT_EQ(rig.shell.state().PageNumber, 30);
    }
    {
        SenderRig rig; // a byte with the wrong parity bit counts as '?' (63)
        rig.line.device(1)->send({'r', 'q'});
        rig.line.device(1)->send({0x00}, false);
        rig.line.device(1)->send({1});
        rig.scheduler.runFor(5ms);
        EXPECT_EQ(rig.shell.state().PageNumber, 64);
    }
    {
        // Right after the user opens the port a notification comes after two
        // characters: the request is completed with the next two.
        SimulatedRig rig;
        rig.startReadyToUpload(randomImage(12));
        EXPECT_EQ(rig.MSComm1.RThreshold(), 2);
        rig.line.device(1)->send({'r', 'q'});
        rig.scheduler.runFor(10ms);
        EXPECT_EQ(rig.shell.state().PageNumber, IdlePage);
        rig.line.device(1)->send({50, 7});
        rig.scheduler.runFor(5ms);
        EXPECT_EQ(rig.shell.state().PageNumber, 57);
    }
}

TEST(PageRequests, OtherNotificationsChangeNothing)
{
    SenderRig rig;
    rig.shell.state().PageNumber = IdlePage;
    // Characters are waiting, yet only a receive notification may read them.
    rig.MSComm1.setRThreshold(100);
    rig.line.device(1)->send({'r', 'q', 1, 2});
    rig.scheduler.runFor(5ms);
    for (const int event : {1, 3, 4, 5, 6, 7, 1001, 1002, 1003, 1004, 1006, 1007, 1008, 1009, 1010, 1011, 42}) {
        rig.MSComm1.injectNotification(event);
        rig.scheduler.runFor(1ms);
        EXPECT_EQ(rig.shell.state().PageNumber, IdlePage) << event;
        EXPECT_FALSE(rig.Timer1.armed()) << event;
    }
    EXPECT_EQ(rig.MSComm1.InBufferCount(), 4);
    EXPECT_TRUE(rig.form.messages.empty());
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 1);
}

TEST(PageRequests, StrayCharactersBeforeARequestNeverShiftIt)
{
    // Line noise or a device's power-up glitch, one to three characters of
    // values a request could hold, 100 ms or more before a clean request for
    // page 7: right after the user's opening (a notification after two
    // characters) and between pages (after four).
    const std::vector<std::vector<std::uint8_t>> strays = {{5}, {5, 6}, {5, 6, 7}};
    for (const bool betweenPages : {false, true}) {
        for (const auto& stray : strays) {
            SCOPED_TRACE(std::string(betweenPages ? "between pages, " : "after opening, ")
                + std::to_string(stray.size()) + " stray characters");
            SenderRig rig;
            if (betweenPages) {
                rig.request({'r', 'q', 0, 3});
                rig.scheduler.runFor(100ms);
                ASSERT_EQ(rig.capture.bytes.size(), 132u);
                ASSERT_EQ(rig.MSComm1.RThreshold(), 4);
                rig.capture.bytes.clear();
            }
            rig.line.device(1)->send(stray);
            rig.scheduler.runFor(100ms);
            rig.request({0x01, 0x02, 0x00, 0x07});
            rig.scheduler.runFor(100ms);
            ASSERT_EQ(rig.capture.bytes.size(), 132u) << "no answer to the request";
            EXPECT_EQ(rig.capture.values()[2], 7) << "answered with another page than asked for";
        }
    }
}

TEST(PageRequests, CharactersLeftWaitingGoWithThePageSendersClosings)
{
    // Two stray characters come while page 3 waits for its tick. The page
    // sender's closing throws them away with the rest of the input, so the
    // next request, sent the moment page 3 is in, names its own page. The
    // silence that drops strays is made longer than this test, so that only
    // the closing can have thrown them away.
    SenderRig rig(std::chrono::seconds(10));
    rig.line.device(1)->send({'r', 'q', 0, 3});
    rig.scheduler.runFor(12ms);
    rig.line.device(1)->send({9, 9});
    bool asked = false;
    rig.line.device(1)->setOnByte([&](const WireByte& byte) {
        rig.capture.bytes.push_back(byte);
        if (rig.capture.bytes.size() == 132 && !asked) {
            asked = true;
            rig.line.device(1)->send({'r', 'q', 0, 7});
        }
    });
    rig.scheduler.runFor(150ms);
    ASSERT_EQ(rig.capture.bytes.size(), 264u);
    EXPECT_EQ(rig.capture.values()[2], 3);
    EXPECT_EQ(rig.capture.values()[132 + 2], 7);
}
