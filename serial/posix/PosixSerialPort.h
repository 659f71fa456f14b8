#pragma once

#include "serial/Clock.h"
#include "serial/LineSettings.h"
#include "serial/ParityErrorDecoder.h"
#include "serial/PortDirectory.h"
#include "serial/SerialComponent.h"
#include "serial/WireSchedule.h"
#include "serial/posix/UniqueFd.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The serial component on Linux, on termios directly. Qt's serial port does
// not fit this program: it neither drains before closing nor marks parity
// errors, it cannot tell a held port from a forbidden one, it spins at full
// load when a device vanishes, and it flushes a lock file to disk at every
// opening while the page sender reopens the port around every page.
//
// Received bytes are moved into the input buffer by a socket notifier, so
// they show up in InBufferCount() once the event loop has run. When new
// characters arrive and at least RThreshold wait, one comEvReceive is posted
// to the event loop (never raised from inside a call or from the notifier;
// never more than one pending; dropped if the count fell below the threshold
// by the time it is delivered). A vanished device (USB unplug, pty master
// closed) closes the port and is reported once as comEventDeviceGone.
namespace isp {

class PosixSerialPort final : public SerialComponent {
public:
    explicit PosixSerialPort(PortDirectory& directory, Clock& clock = SteadyClock::instance());
    // Drains and closes an open port.
    ~PosixSerialPort() override;

    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

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
    bool PortOpen() const override { return static_cast<bool>(fd_); }
    CommResult Output(std::span<const std::uint8_t> bytes) override;
    int OutBufferCount() override;
    std::string Input() override;
    int InBufferCount() const override { return static_cast<int>(input_.size()); }
    std::string portLocation(int n) const override { return directory_.pathOf(n); }
    int CommEvent() const override { return lastCommEvent(); }

private:
    enum class Drain { Done, Stalled, DeviceGone };

    CommResult open();
    CommResult close();
    Drain drain();
    // Hands the own queue to the driver as far as it takes it; false when the
    // device is gone.
    bool pushOutput();
    std::size_t ownQueued() const { return outQueue_.size() - outHead_; }
    void onReadable();
    void onWritable();
    // Closes the port after the device vanished and posts the one report of it.
    void deviceVanished();
    void releaseDevice();
    void postReceiveNotification();
    std::string portName() const;

    PortDirectory& directory_;
    Clock& clock_;

    int port_ = 1;
    LineSettings settings_;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;

    // State of one opening.
    UniqueFd fd_;
    std::string devicePath_;
    bool pseudoTerminal_ = false;
    std::string input_;
    ParityErrorDecoder decoder_;
    std::vector<std::uint8_t> outQueue_;
    std::size_t outHead_ = 0;
    WireSchedule wire_;
    bool receivePosted_ = false;

    // Owns the notifiers and receives the posted notifications; destroying it
    // drops notifications still pending for a destroyed component.
    QObject context_;
    QSocketNotifier* readNotifier_;
    QSocketNotifier* writeNotifier_;
};

} // namespace isp
