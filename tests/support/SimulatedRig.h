#pragma once

#include "app/handlers/Shell.h"
#include "image/ImageFile.h"
#include "serial/CommControl.h"
#include "serial/sim/SimulatedLine.h"
#include "tests/support/ImageScript.h"
#include "tests/support/RecordingSerialComponent.h"
#include "tests/support/ScriptedForm1.h"
#include "tests/support/VirtualBootLoader.h"
#include "transfer/LoopTimer.h"

#include <memory>

// The whole program on the simulated line: shell, component, Timer1 and a
// scripted main window, with boot loaders that can be put on any port.
namespace isp::test {

struct SimulatedRig {
    SimulatedRig() = default;
    // A rig whose component drops stray characters after another silence.
    explicit SimulatedRig(Clock::Duration burstGap)
        : control{std::make_unique<SimulatedSerialLine>(line), ports, scheduler, burstGap}
    {
    }

    SimulatedScheduler scheduler;
    SimulatedLine line{scheduler};
    SimulatedPortDirectory ports;
    CommControl control{std::make_unique<SimulatedSerialLine>(line), ports, scheduler};
    // What the handlers see: the component, with their operations recorded.
    RecordingSerialComponent MSComm1{control, scheduler};
    LoopTimer Timer1{scheduler};
    ScriptedForm1 form{[this](Clock::Duration d) { scheduler.runFor(d); }};
    Shell shell{MSComm1, Timer1, form, scheduler};

    // How a request goes onto the wire; a test may add noise, split it or
    // send it twice.
    using RequestSender = std::function<void(DeviceEnd&, const VirtualBootLoader::Bytes&)>;

    // A boot loader on COMn, talking over the simulated wire.
    std::unique_ptr<VirtualBootLoader> attachBootLoader(
        int n, VirtualBootLoader::Options options = {}, RequestSender sender = {})
    {
        DeviceEnd* device = line.device(n);
        if (!sender)
            sender = [](DeviceEnd& end, const VirtualBootLoader::Bytes& bytes) { end.send(bytes, true); };
        VirtualBootLoader::Transport transport{
            [device, sender](const VirtualBootLoader::Bytes& bytes) { sender(*device, bytes); },
            [this](Clock::Duration delay, std::function<void()> task) {
                scheduler.atLine(scheduler.time() + delay, std::move(task));
            },
            [device](std::size_t) { return device->sendsArriveBy(); },
        };
        auto loader = std::make_unique<VirtualBootLoader>(std::move(transport), std::move(options));
        device->setOnByte(
            [raw = loader.get()](const WireByte& byte) { raw->onByte(byte.value, byte.parityBit, byte.finishedAt); });
        return loader;
    }

    // Ports present, start-up run, the image loaded and COM1 opened.
    void startReadyToUpload(const ImageBytes& image)
    {
        line.addPort(1);
        shell.Form1_Load();
        loadImage(image);
        shell.OpenUart_Click();
    }

    void loadImage(const ImageBytes& image) { openImage(shell, form, image); }
};

} // namespace isp::test
