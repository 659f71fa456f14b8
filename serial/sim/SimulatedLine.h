#pragma once

#include "serial/LineSettings.h"
#include "serial/PortDirectory.h"
#include "serial/SerialLine.h"
#include "serial/sim/SimulatedScheduler.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An in-memory serial line for tests: the system's ports, the program's line
// on one end and a scriptable device on the other. The device sees every
// byte with its parity bit, as a 9-bit frame, at the moment it has fully left
// the wire at the baud rate in force.
namespace isp {

// One character on the wire: 8 data bits and the parity bit.
struct WireByte {
    std::uint8_t value = 0;
    bool parityBit = false;
    Clock::TimePoint finishedAt{};
};

class SimulatedLine;
class SimulatedSerialLine;

// The far end of the cable on one port: what the device sends and receives.
class DeviceEnd {
public:
    // Called for each byte the program sent, once it has left the wire.
    void setOnByte(std::function<void(const WireByte&)> handler) { onByte_ = std::move(handler); }

    // Sends bytes towards the program, one after another at the line's
    // speed, each with the given parity bit.
    void send(const std::vector<std::uint8_t>& bytes, bool parityBit = true);

    // Holds the program's transmit queue (like flow control or a stuck
    // adapter) until released.
    void stallTransmit(bool stalled);

    // When the last byte sent so far will have reached the program.
    Clock::TimePoint sendsArriveBy() const { return sendFreeAt_; }

private:
    friend class SimulatedLine;
    friend class SimulatedSerialLine;
    SimulatedScheduler* scheduler_ = nullptr;
    SimulatedLine* line_ = nullptr;
    int port_ = 0;
    std::function<void(const WireByte&)> onByte_;
    bool stalled_ = false;
    Clock::TimePoint sendFreeAt_{};
};

// A USB-serial adapter between the device's wire and the program. Its chip
// holds what the device sends until its latency timer runs out, then passes
// it on; the timer restarts whenever the chip passes something on, which it
// does every period even with nothing to pass (two status bytes, on an FTDI
// chip), so a short input waits for the end of the period under way.
struct UsbAdapter {
    Clock::Duration latencyTimer{};
    // The timer once the program asked the driver for low latency, which the
    // adapter keeps until it is unplugged.
    Clock::Duration lowLatencyTimer{};
    // False where the request never reaches the chip (a driver or a system
    // without the setting): the timer stays as it is.
    bool driverOffersLowLatency = true;

    // An FTDI chip under Linux's ftdi_sio: 16 ms, 1 ms with low latency.
    static UsbAdapter ftdi() { return {std::chrono::milliseconds(16), std::chrono::milliseconds(1), true}; }
};

// The ports of the simulated system, by number n of COMn; the program opens
// COMn as the device "sim:COMn" (see SimulatedPortDirectory).
class SimulatedLine {
public:
    explicit SimulatedLine(SimulatedScheduler& scheduler) : scheduler_(scheduler) {}

    // Makes COMn exist, with a device on it.
    DeviceEnd& addPort(int n);
    void setHeldByOtherProgram(int n, bool held);
    void setPermissionDenied(int n, bool denied);
    // The adapter cannot do mark and space parity.
    void setRejectsMarkSpace(int n, bool rejects);
    // COMn's device talks through this adapter from now on (without one,
    // what the device sends reaches the program as it leaves the wire).
    void plugAdapter(int n, const UsbAdapter& adapter);
    // Pulls the adapter: an open port fails, and COMn is gone until it
    // reappears. Its adapter forgets low latency and what it held.
    void vanish(int n);
    void reappear(int n);

    bool exists(int n) const;
    DeviceEnd* device(int n);
    SimulatedScheduler& scheduler() { return scheduler_; }

    // Bytes the program's line threw away because they could not leave.
    std::size_t discardedBytes() const { return discarded_; }
    // Openings of a port that succeeded.
    int openings() const { return openings_; }
    // Times the program asked a driver for low latency, and whether COMn's
    // adapter runs its short timer now.
    int lowLatencyRequests() const { return lowLatencyRequests_; }
    bool runsLowLatency(int n) const;

private:
    friend class SimulatedSerialLine;
    friend class DeviceEnd;
    struct AdapterChip {
        UsbAdapter model;
        bool lowLatency = false;
        Clock::TimePoint timerStart{};
        std::vector<WireByte> heldInput;
        SimulatedScheduler::TaskId passOn = 0;
    };
    struct Port {
        std::unique_ptr<DeviceEnd> device;
        bool present = true;
        bool held = false;
        bool denied = false;
        bool rejectsMarkSpace = false;
        std::optional<AdapterChip> adapter;
    };
    void deliverToProgram(int n, std::uint8_t value, bool parityBit);
    void passToProgram(int n, std::uint8_t value, bool parityBit);
    // The adapter's chip: holds a character, passes on what it holds when
    // its timer runs out, switches to the short timer.
    void holdInAdapter(int n, AdapterChip& chip, std::uint8_t value, bool parityBit);
    void passHeldOn(int n);
    void schedulePassOn(int n, AdapterChip& chip);
    void switchToLowLatency(int n);
    void emptyAdapter(int n);

    SimulatedScheduler& scheduler_;
    std::map<int, Port> ports_;
    SimulatedSerialLine* attached_ = nullptr;
    std::size_t discarded_ = 0;
    int openings_ = 0;
    int lowLatencyRequests_ = 0;
};

// COMn is the simulated device "sim:COMn", whether it exists or not.
class SimulatedPortDirectory final : public PortDirectory {
public:
    std::string pathOf(int n) const override { return n >= 1 ? "sim:COM" + std::to_string(n) : std::string(); }
    void refresh() override {}
    std::vector<int> numbersAbove(int highest) const override
    {
        std::vector<int> numbers;
        for (const int n : above_) {
            if (n > highest)
                numbers.push_back(n);
        }
        return numbers;
    }
    // The COM numbers the system has, as far as numbersAbove tells.
    void setNumbers(std::vector<int> numbers) { above_ = std::move(numbers); }

private:
    std::vector<int> above_;
};

// The program's end of the simulated line, under the communications control
// like any platform's line. Received bytes wait, as in a driver, until the
// event loop hands them over; a byte with the wrong parity bit becomes '?'.
class SimulatedSerialLine final : public SerialLine {
public:
    explicit SimulatedSerialLine(SimulatedLine& line);
    ~SimulatedSerialLine() override;

    CommResult open(const std::string& device, const std::string& name, const LineSettings& settings) override;
    bool isOpen() const override { return open_; }
    void close() override;
    CommResult configure(const LineSettings& settings) override;
    CommResult write(std::span<const std::uint8_t> bytes) override;
    Queue queued() override { return {CommResult::success(), output_.size()}; }
    // The queue counts a byte until it has left the wire.
    Clock::TimePoint wireClearAt() const override { return {}; }
    void discardOutput() override;
    void requestLowLatency() override;

private:
    friend class SimulatedLine;
    friend class DeviceEnd;
    void startNextByte();
    void receive(std::uint8_t value, bool parityBit);
    void lost();

    SimulatedLine& line_;
    SimulatedScheduler& scheduler_;
    LineSettings settings_{};
    bool open_ = false;
    int openPort_ = 0;

    std::deque<std::uint8_t> output_;
    bool byteOnWire_ = false;
    SimulatedScheduler::TaskId wireTask_ = 0;
    std::string arrived_; // received, not yet handed over
    SimulatedScheduler::TaskId handOver_ = 0;
    SimulatedScheduler::TaskId goneReport_ = 0;
};

} // namespace isp
