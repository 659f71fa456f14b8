#pragma once

#include "serial/EventLoop.h"
#include "serial/SerialLine.h"
#include "serial/WireSchedule.h"
#include "serial/posix/ParityErrorDecoder.h"
#include "serial/posix/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A serial device on Linux, on termios directly. Qt's serial port does not
// fit this program: it neither drains before closing nor marks parity
// errors, it cannot tell a held port from a forbidden one, it spins at full
// load when a device vanishes, and it flushes a lock file to disk at every
// opening while the page sender reopens the port around every page.
//
// The event loop watches the descriptor: input is read and decoded as it
// arrives, and output the driver could not take at once is pushed as room
// appears. A read of nothing or EIO means the device is gone (USB unplug,
// pty master closed).
//
// A port is held by another program, and never opened, when a live process
// named in a lock file holds it, another process has it open (as fuser
// finds it, among the processes this user can see), it is claimed with
// TIOCEXCL, or another open file holds an flock on it. While open, this line
// claims it the same ways (TIOCEXCL and flock), without a lock file: that
// would cost a flush to disk at each of the page sender's reopenings.
namespace isp {

class PosixLine final : public SerialLine {
public:
    explicit PosixLine(EventLoop& loop);
    ~PosixLine() override;
    PosixLine(const PosixLine&) = delete;
    PosixLine& operator=(const PosixLine&) = delete;

    CommResult open(const std::string& device, const std::string& name, const LineSettings& settings) override;
    bool isOpen() const override { return static_cast<bool>(fd_); }
    void close() override;
    CommResult configure(const LineSettings& settings) override;
    CommResult write(std::span<const std::uint8_t> bytes) override;
    Queue queued() override;
    Clock::TimePoint wireClearAt() const override;
    void discardOutput() override;
    void requestLowLatency() override;

private:
    // Hands the own queue to the driver as far as it takes it; false when the
    // device is gone.
    bool pushOutput();
    std::size_t ownQueued() const { return outQueue_.size() - outHead_; }
    void watchForRoom(bool wanted);
    void onReadable();
    void onWritable();
    CommResult gone(int error);

    EventLoop& loop_;
    Clock& clock_;

    // State of one opening.
    UniqueFd fd_;
    std::string device_;
    std::string name_;
    LineSettings settings_;
    bool pseudoTerminal_ = false;
    ParityErrorDecoder decoder_;
    std::vector<std::uint8_t> outQueue_;
    std::size_t outHead_ = 0;
    WireSchedule wire_;
    EventLoop::Id readWatch_ = 0;
    EventLoop::Id writeWatch_ = 0;

    // The device this line closed last, and when.
    std::string lastDevice_;
    Clock::TimePoint lastClosedAt_{};
};

} // namespace isp
