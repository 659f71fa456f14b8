// The upload run on the simulated line and simulated time: what only the
// run decides (the reminders while waiting, what an interruption leaves
// undone, looking for a port that went away, counting line noise); the
// rules of a board are BoardTrackerTest's, whole uploads CliUploadTest's and
// WindowAndCliWireTest's.
#include "cli/UploadRun.h"
#include "serial/CommControl.h"
#include "serial/sim/SimulatedLine.h"
#include "tests/cli/RecordedEvents.h"
#include "tests/support/ImageScript.h"
#include "transfer/LoopTimer.h"

#include <gtest/gtest.h>

using namespace isp;
using namespace isp::cli;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

struct SimulatedUpload {
    SimulatedScheduler scheduler;
    SimulatedLine line{scheduler};
    SimulatedPortDirectory ports;
    DeviceEnd& device = line.addPort(1);
    CommControl MSComm1{std::make_unique<SimulatedSerialLine>(line), ports, scheduler};
    LoopTimer Timer1{scheduler};
    RecordedEvents events;
    UploadRun upload;
    std::vector<WireByte> received;

    explicit SimulatedUpload(UploadSettings settings = {})
        : upload(scheduler, MSComm1, Timer1, events, std::move(settings))
    {
        device.setOnByte([this](const WireByte& byte) { received.push_back(byte); });
        // As the command wires it: the port's dropped characters counted.
        MSComm1.setOnDropped(
            [this](std::string_view characters) { upload.strayCharacters(static_cast<int>(characters.size())); });
        upload.start(1, randomImage(5));
    }
};

const std::vector<std::uint8_t> requestForPage0{0x50, 0x47, 0x00, 0x00};

} // namespace

TEST(UploadRun, SaysItIsWaitingEveryFiveSecondsUntilInterrupted)
{
    SimulatedUpload s;
    s.scheduler.runFor(16s);
    EXPECT_EQ(s.events.reminders, 3);
    s.upload.interrupt();

    EXPECT_TRUE(s.upload.finished());
    EXPECT_EQ(s.upload.exitStatus(), ExitStatus::Interrupted);
    EXPECT_FALSE(s.MSComm1.PortOpen());
    EXPECT_EQ(s.events.lines, (std::vector<std::string>{"waiting 1", "failed interrupted 0", "summary 1 interrupted"}));
    EXPECT_EQ(s.events.lastFailure.message, "Interrupted: no page was asked for; the port is closed");
    s.scheduler.runFor(10s);
    EXPECT_EQ(s.events.reminders, 3);
}

TEST(UploadRun, AnInterruptionBeforeTheRequestedPageLeavesItUnsent)
{
    SimulatedUpload s;
    s.device.send({0x50, 0x47, 0x05, 0x00});
    // The request is in and Timer1 armed; its 20 ms have not run out.
    s.scheduler.runFor(10ms);
    ASSERT_EQ(s.events.lines.back(), "started 1 at 5");
    s.upload.interrupt();
    s.scheduler.runFor(1s);

    EXPECT_TRUE(s.received.empty()) << s.received.size() << " bytes went out after the interruption";
    EXPECT_FALSE(s.MSComm1.PortOpen());
    EXPECT_EQ(s.events.lastSummary.requests, 1);
    EXPECT_EQ(s.events.lastSummary.pagesSent, 0);
    EXPECT_EQ(s.events.lastFailure.message, "Interrupted: board 1 had 0 pages of 224; the port is closed");
}

TEST(UploadRun, InALoopAPortThatWentAwayIsLookedForUntilItOpensAgain)
{
    UploadSettings settings;
    settings.rules.loop = true;
    SimulatedUpload s(settings);
    s.device.send(requestForPage0);
    s.scheduler.runFor(200ms);
    ASSERT_EQ(s.events.lines.back(), "sent 1:0");
    s.line.vanish(1);
    s.scheduler.runFor(1s);
    EXPECT_EQ(s.events.since(s.events.lines.size() - 3),
        (std::vector<std::string>{"failed port-lost 1", "summary 1 port-lost", "waiting 2 for the port"}));

    // Back, but held by another program (ModemManager probing it): said
    // once, and tried again until it opens.
    s.line.setHeldByOtherProgram(1, true);
    s.line.reappear(1);
    s.scheduler.runFor(1s);
    EXPECT_EQ(std::count(s.events.lines.begin(), s.events.lines.end(), "warning"), 1);
    EXPECT_NE(s.events.lastWarning.find("the port is back, but does not open yet"), std::string::npos)
        << s.events.lastWarning;
    EXPECT_FALSE(s.MSComm1.PortOpen());
    s.line.setHeldByOtherProgram(1, false);
    s.scheduler.runFor(150ms);
    EXPECT_TRUE(s.MSComm1.PortOpen());
    EXPECT_EQ(s.events.lines.back(), "waiting 2");
    s.device.send(requestForPage0);
    s.scheduler.runFor(200ms);
    EXPECT_EQ(s.events.since(s.events.lines.size() - 2), (std::vector<std::string>{"started 2 at 0", "sent 2:0"}));
    EXPECT_FALSE(s.upload.finished());
}

TEST(UploadRun, StrayCharactersThePortDropsAreCountedForTheBoard)
{
    SimulatedUpload s;
    // A glitch, then the request more than 50 ms later: the glitch is part
    // of no request, and dropped.
    s.device.send({0x00});
    s.scheduler.runFor(100ms);
    s.device.send(requestForPage0);
    s.scheduler.runFor(200ms);
    ASSERT_EQ(s.events.lines.back(), "sent 1:0");
    s.upload.interrupt(ExitStatus::Terminated);

    EXPECT_EQ(s.upload.exitStatus(), ExitStatus::Terminated);
    EXPECT_EQ(s.events.lastSummary.strayCharacters, 1);
    EXPECT_EQ(s.events.lastSummary.requests, 1);
}
