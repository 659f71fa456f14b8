#pragma once

#include "serial/LineSettings.h"
#include "serial/SerialComponent.h"
#include "serial/sim/SimulatedScheduler.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// An in-memory serial line for tests: the system's ports, the program's
// serial component on one end and a scriptable device on the other. The
// device sees every byte with its parity bit, as a 9-bit frame, at the moment
// it has fully left the wire at the baud rate in force.
namespace isp {

// One character on the wire: 8 data bits and the parity bit.
struct WireByte {
    std::uint8_t value = 0;
    bool parityBit = false;
    Clock::TimePoint finishedAt{};
};

class SimulatedLine;
class SimulatedSerialPort;

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
    friend class SimulatedSerialPort;
    SimulatedScheduler* scheduler_ = nullptr;
    SimulatedLine* line_ = nullptr;
    int port_ = 0;
    std::function<void(const WireByte&)> onByte_;
    bool stalled_ = false;
    Clock::TimePoint sendFreeAt_{};
};

// The ports of the simulated system, by number n of COMn.
class SimulatedLine {
public:
    explicit SimulatedLine(SimulatedScheduler& scheduler) : scheduler_(scheduler) {}

    // Makes COMn exist, with a device on it.
    DeviceEnd& addPort(int n);
    void setHeldByOtherProgram(int n, bool held);
    void setPermissionDenied(int n, bool denied);
    // The adapter cannot do mark and space parity.
    void setRejectsMarkSpace(int n, bool rejects);
    // Pulls the adapter: an open port fails, and COMn is gone until it
    // reappears.
    void vanish(int n);
    void reappear(int n);

    bool exists(int n) const;
    DeviceEnd* device(int n);
    SimulatedScheduler& scheduler() { return scheduler_; }

private:
    friend class SimulatedSerialPort;
    friend class DeviceEnd;
    struct Port {
        std::unique_ptr<DeviceEnd> device;
        bool present = true;
        bool held = false;
        bool denied = false;
        bool rejectsMarkSpace = false;
    };
    void deliverToProgram(int n, std::uint8_t value, bool parityBit);

    SimulatedScheduler& scheduler_;
    std::map<int, Port> ports_;
    SimulatedSerialPort* attached_ = nullptr;
};

// The program's serial component on the simulated line. Keeps every promise
// of SerialComponent: drains before closing (bounded), reports notifications
// through the event loop only, hands over wrong-parity bytes as '?'.
class SimulatedSerialPort final : public SerialComponent {
public:
    explicit SimulatedSerialPort(SimulatedLine& line);
    ~SimulatedSerialPort() override;

    CommResult setCommPort(int n) override;
    int CommPort() const override { return commPort_; }
    CommResult setSettings(std::string_view settings) override;
    std::string Settings() const override { return settings_.toString(); }
    void setInBufferSize(int bytes) override
    {
        record("InBufferSize", bytes);
        inBufferSize_ = bytes;
    }
    int InBufferSize() const override { return inBufferSize_; }
    void setOutBufferSize(int bytes) override
    {
        record("OutBufferSize", bytes);
        outBufferSize_ = bytes;
    }
    int OutBufferSize() const override { return outBufferSize_; }
    void setInputLen(int characters) override
    {
        record("InputLen", characters);
        inputLen_ = characters;
    }
    int InputLen() const override { return inputLen_; }
    void setRThreshold(int characters) override
    {
        record("RThreshold", characters);
        rThreshold_ = characters;
    }
    int RThreshold() const override { return rThreshold_; }
    void setSThreshold(int bytes) override
    {
        record("SThreshold", bytes);
        sThreshold_ = bytes;
    }
    int SThreshold() const override { return sThreshold_; }
    CommResult setPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    CommResult Output(std::span<const std::uint8_t> bytes) override;
    int OutBufferCount() override;
    std::string Input() override;
    int InBufferCount() const override { return static_cast<int>(input_.size()); }
    std::string portLocation(int n) const override;
    int CommEvent() const override { return lastCommEvent(); }

    // Every operation the program made, in order ("CommPort=3",
    // "Settings=38400,M,8,1", "PortOpen=true", "Output=3 bytes", ...).
    const std::vector<std::string>& operations() const { return operations_; }
    void clearOperations() { operations_.clear(); }
    // Bytes thrown away because the queue could not drain before a close.
    std::size_t discardedBytes() const { return discarded_; }
    // Reports a line or modem event (framing error, ring, ...) through the
    // event loop, as a real line would.
    void injectNotification(int event) { postNotification(event); }
    // Receive notifications delivered.
    int receiveNotifications() const { return receiveNotifications_; }

    // How long closing waits for a stuck queue before discarding it.
    static constexpr std::chrono::seconds DrainLimit{2};

private:
    friend class SimulatedLine;
    friend class DeviceEnd;
    void record(const char* what, int value);
    void record(const char* what, const std::string& value);
    void startNextByte();
    void byteLeftWire();
    void receive(std::uint8_t value, bool parityBit);
    void lost();
    void postNotification(int event);
    void drain();

    SimulatedLine& line_;
    SimulatedScheduler& scheduler_;
    int commPort_ = 1;
    LineSettings settings_{};
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;
    bool open_ = false;
    int openPort_ = 0;

    std::deque<std::uint8_t> output_;
    bool byteOnWire_ = false;
    SimulatedScheduler::TaskId wireTask_ = 0;
    std::string input_;
    bool receivePending_ = false;

    std::vector<std::string> operations_;
    std::size_t discarded_ = 0;
    int receiveNotifications_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace isp
