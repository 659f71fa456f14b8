// The window and the command line answer the device through the same core;
// this shows that they put the same thing on the wire. One boot loader
// script, with noise, repeats, a request beyond the limits and pages out of
// order, is played once against the window's handlers and once against the
// command line's upload run, each on its own simulated line; every byte
// each sends is recorded with its parity bit, and the two records compared.
#include "cli/UploadRun.h"
#include "tests/cli/RecordedEvents.h"
#include "tests/support/SimulatedRig.h"

#include <gtest/gtest.h>

#include <random>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;

namespace {

// A byte as the device received it: its value and its parity bit.
using NineBits = std::pair<std::uint8_t, bool>;

// The device's side of the script: which pages, in which order, and what
// trouble each request meets on its way. Played afresh for each run.
struct DeviceScript {
    std::mt19937 random{23};

    VirtualBootLoader::Options options()
    {
        VirtualBootLoader::Options options;
        for (int page = 0; page < PageCount; ++page)
            options.pageOrder.push_back(page % 2 == 0 ? page / 2 : PageCount - 1 - page / 2);
        options.pageOrder.insert(options.pageOrder.begin() + 50, {3, 3, 200});
        options.tolerateOtherPages = true;
        return options;
    }

    void send(SimulatedScheduler& scheduler, DeviceEnd& end, const VirtualBootLoader::Bytes& request)
    {
        switch (random() % 6) {
        case 0: // garbage just before the request
            end.send({0xC3, 0x81, 0xFE}, true);
            end.send(request, true);
            break;
        case 1: // a byte of the request with the wrong parity bit
            end.send({request[0], request[1]}, true);
            end.send({request[2]}, false);
            end.send({request[3]}, true);
            break;
        case 2: // a request beyond the limits, the real one well after it
            end.send({0x50, 0x47, 0x71, 0x71}, true);
            scheduler.atLine(scheduler.time() + 100ms, [&end, request] { end.send(request, true); });
            break;
        case 3: // the same request twice, back to back
            end.send(request, true);
            end.send(request, true);
            break;
        default: end.send(request, true); break;
        }
    }
};

// A boot loader on COM1 of the line that records every byte it receives.
std::unique_ptr<VirtualBootLoader> attachRecordingDevice(
    SimulatedScheduler& scheduler, SimulatedLine& line, DeviceScript& script, std::vector<NineBits>& wire)
{
    DeviceEnd* end = line.device(1);
    VirtualBootLoader::Transport transport{
        [&scheduler, &script, end](const VirtualBootLoader::Bytes& bytes) { script.send(scheduler, *end, bytes); },
        [&scheduler](Clock::Duration delay, std::function<void()> task) {
            scheduler.atLine(scheduler.time() + delay, std::move(task));
        },
        [end](std::size_t) { return end->sendsArriveBy(); },
    };
    auto loader = std::make_unique<VirtualBootLoader>(std::move(transport), script.options());
    end->setOnByte([&wire, raw = loader.get()](const WireByte& byte) {
        wire.emplace_back(byte.value, byte.parityBit);
        raw->onByte(byte.value, byte.parityBit, byte.finishedAt);
    });
    return loader;
}

} // namespace

TEST(WindowAndCommandLine, PutTheSameBytesWithTheSameParityOnTheWire)
{
    const ImageBytes image = randomImage(24);

    std::vector<NineBits> windowWire;
    {
        SimulatedRig rig;
        rig.startReadyToUpload(image);
        DeviceScript script;
        auto device = attachRecordingDevice(rig.scheduler, rig.line, script, windowWire);
        device->start();
        ASSERT_TRUE(rig.scheduler.runUntil([&] { return device->finished(); }, 600s));
        EXPECT_EQ(device->violations(), std::vector<std::string>{});
        EXPECT_TRUE(device->flash() == image);
        EXPECT_GT(device->retries(), 0) << "the script did get in the way";
    }

    std::vector<NineBits> cliWire;
    {
        SimulatedScheduler scheduler;
        SimulatedLine line{scheduler};
        SimulatedPortDirectory ports;
        line.addPort(1);
        CommControl MSComm1{std::make_unique<SimulatedSerialLine>(line), ports, scheduler};
        LoopTimer Timer1{scheduler};
        RecordedEvents events;
        cli::UploadRun upload(scheduler, MSComm1, Timer1, events, {});
        upload.start(1, image);
        DeviceScript script;
        auto device = attachRecordingDevice(scheduler, line, script, cliWire);
        device->start();
        ASSERT_TRUE(scheduler.runUntil([&] { return device->finished(); }, 600s));
        EXPECT_EQ(device->violations(), std::vector<std::string>{});
        EXPECT_TRUE(device->flash() == image);
        // Every page, then silence: the run ends on its own.
        ASSERT_TRUE(scheduler.runUntil([&] { return upload.finished(); }, 10s));
        EXPECT_EQ(upload.exitStatus(), cli::ExitStatus::Ok);
    }

    ASSERT_EQ(windowWire.size(), cliWire.size());
    for (std::size_t i = 0; i < windowWire.size(); ++i) {
        ASSERT_EQ(windowWire[i], cliWire[i]) << "byte " << i << " differs";
    }
    // Whole answers, a space-parity header and a mark-parity frame each: at
    // least the script's 227 requests, and the requests its noise made up.
    EXPECT_EQ(windowWire.size() % (3 + 129), 0u);
    EXPECT_GE(windowWire.size(), 227u * (3 + 129));
}
