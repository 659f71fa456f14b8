#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A pseudo-terminal pair standing in for a serial line: the component opens
// the slave by its path like a serial device, and the test plays the far end
// on the master. A pty carries bytes and termios flags like a serial driver
// but has no wire: no parity bits, no line time, an output queue that always
// reads empty.
namespace isp::test {

class PseudoTerminal {
public:
    // Throws std::runtime_error when no pty can be had.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Hangs up the line: the slave side sees the device vanish.
    void closeMaster();

    // Sends bytes from the far end; waits while the pty is full.
    void send(std::span<const std::uint8_t> bytes);
    void send(std::string_view text);

    // Reads what the far end receives until `count` bytes came or `timeout`
    // passed; returns what came.
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds timeout);

    // The termios in force on the slave side (an ioctl on the master reads
    // the slave's).
    termios slaveTermios() const;

private:
    int master_ = -1;
    std::string slavePath_;
};

} // namespace isp::test
