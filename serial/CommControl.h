#pragma once

#include "serial/EventLoop.h"
#include "serial/LineSettings.h"
#include "serial/PortDirectory.h"
#include "serial/SerialComponent.h"
#include "serial/SerialLine.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// The communications control, MSComm1: the classic properties of the serial
// component kept once, above whichever line the platform offers. It finds
// COMn in the port directory, drains before every closing and every change
// of settings, keeps the received characters until Input() takes them, and
// raises OnComm from the event loop:
// - comEvReceive once new characters arrived and at least RThreshold wait
//   (never more than one pending; dropped if fewer wait by the time it is
//   delivered);
// - comEventDeviceGone once when the device went away, after closing the
//   port.
//
// On this line a message is a burst of characters: the boot loader sends a
// request's characters back to back, and host or USB-adapter buffering
// splits a burst by at most a USB packet interval (an FTDI adapter holds
// short replies for up to 16 ms). Characters still waiting unread when new
// ones arrive more than BurstGap later belong to no message that is still
// coming (line noise, a device's power-up glitch) and are dropped, so that
// they never shift the characters of the next request.
namespace isp {

class CommControl final : public SerialComponent {
public:
    static constexpr Clock::Duration BurstGap = std::chrono::milliseconds(50);
    // A queue that has not moved for this long is stuck (flow control held,
    // adapter hung): closing throws it away instead of waiting for it, and
    // does not wait again for a queue already found stuck.
    static constexpr Clock::Duration StallLimit = std::chrono::seconds(2);

    CommControl(std::unique_ptr<SerialLine> line, PortDirectory& directory, EventLoop& loop,
        Clock::Duration burstGap = BurstGap);
    // Drains and closes an open port.
    ~CommControl() override;
    CommControl(const CommControl&) = delete;
    CommControl& operator=(const CommControl&) = delete;

    CommResult setCommPort(int n) override;
    int CommPort() const override { return port_; }
    CommResult setSettings(std::string_view settings) override;
    std::string Settings() const override { return settings_.toString(); }
    void setInBufferSize(int bytes) override { inBufferSize_ = bytes; }
    int InBufferSize() const override { return inBufferSize_; }
    void setOutBufferSize(int bytes) override { outBufferSize_ = bytes; }
    int OutBufferSize() const override { return outBufferSize_; }
    void setInputLen(int characters) override { inputLen_ = characters; }
    int InputLen() const override { return inputLen_; }
    void setRThreshold(int characters) override { rThreshold_ = characters; }
    int RThreshold() const override { return rThreshold_; }
    void setSThreshold(int bytes) override { sThreshold_ = bytes; }
    int SThreshold() const override { return sThreshold_; }

    CommResult setPortOpen(bool open) override;
    bool PortOpen() const override { return line_->isOpen(); }
    CommResult Output(std::span<const std::uint8_t> bytes) override;
    int OutBufferCount() override;
    std::string Input() override;
    int InBufferCount() const override { return static_cast<int>(input_.size()); }
    void requestLowLatency() override;
    std::string portLocation(int n) const override { return directory_.pathOf(n); }
    std::string portName(int n) const override { return directory_.nameOf(n); }
    std::vector<int> portNumbersAbove(int highest) const override { return directory_.numbersAbove(highest); }
    int CommEvent() const override { return lastCommEvent(); }

    // Told the characters the BurstGap rule drops, as it drops them: for a
    // trace of the line and a count of its noise.
    void setOnDropped(std::function<void(std::string_view characters)> observer) { onDropped_ = std::move(observer); }

private:
    enum class Drain { Done, Stalled, DeviceGone };

    CommResult open();
    CommResult close();
    Drain drain();
    // Looks at the line's queue and notes whether it moved.
    SerialLine::Queue lookAtQueue();
    void onReceived(std::string_view characters);
    // The device is gone and the line closed: forget this opening's state and
    // post the one report of it.
    void lost();
    void forgetOpening();
    // lost(), and the result that says so.
    CommResult deviceGone(const std::string& what);
    std::string portName() const;

    std::unique_ptr<SerialLine> line_;
    PortDirectory& directory_;
    EventLoop& loop_;
    Clock& clock_;
    Clock::Duration burstGap_;

    int port_ = 1;
    LineSettings settings_;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;

    // State of one opening.
    std::string input_;
    Clock::TimePoint lastArrival_{};
    std::size_t lastQueued_ = 0;
    Clock::TimePoint queueMovedAt_{};
    EventLoop::Id receivePosted_ = 0;
    EventLoop::Id gonePosted_ = 0;
    std::function<void(std::string_view)> onDropped_;
};

} // namespace isp
