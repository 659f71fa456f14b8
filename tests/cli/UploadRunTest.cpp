// The upload run on the simulated line and simulated time: what only the
// run decides (the reminders while waiting, what an interruption leaves
// undone); the rules of a board are BoardTrackerTest's, whole uploads
// CliUploadTest's and WindowAndCliWireTest's.
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
    UploadRun upload{scheduler, MSComm1, Timer1, events, {}};
    std::vector<WireByte> received;

    SimulatedUpload()
    {
        device.setOnByte([this](const WireByte& byte) { received.push_back(byte); });
        upload.start(1, randomImage(5));
    }
};

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
