#pragma once

#include "serial/SerialComponent.h"

#include <functional>

// Passes every operation to another component, and its notifications back.
// The base for wrappers that watch or bend what passes: a trace of the
// bytes, a record of the operations, injected faults.
namespace isp {

class ForwardingSerialComponent : public SerialComponent {
public:
    using OutputObserver = std::function<void(std::span<const std::uint8_t>)>;
    using InputObserver = std::function<void(const std::string&)>;

    explicit ForwardingSerialComponent(SerialComponent& inner) : inner_(inner)
    {
        inner_.setOnComm([this] { raiseOnComm(inner_.CommEvent()); });
    }
    ~ForwardingSerialComponent() override { inner_.setOnComm({}); }
    ForwardingSerialComponent(const ForwardingSerialComponent&) = delete;
    ForwardingSerialComponent& operator=(const ForwardingSerialComponent&) = delete;

    // Sees the bytes of each Output before they are queued.
    void setOutputObserver(OutputObserver observer) { outputObserver_ = std::move(observer); }
    // Sees the characters each Input() hands over.
    void setInputObserver(InputObserver observer) { inputObserver_ = std::move(observer); }

    CommResult setCommPort(int n) override { return inner_.setCommPort(n); }
    int CommPort() const override { return inner_.CommPort(); }
    CommResult setSettings(std::string_view s) override { return inner_.setSettings(s); }
    std::string Settings() const override { return inner_.Settings(); }
    void setInBufferSize(int v) override { inner_.setInBufferSize(v); }
    int InBufferSize() const override { return inner_.InBufferSize(); }
    void setOutBufferSize(int v) override { inner_.setOutBufferSize(v); }
    int OutBufferSize() const override { return inner_.OutBufferSize(); }
    void setInputLen(int v) override { inner_.setInputLen(v); }
    int InputLen() const override { return inner_.InputLen(); }
    void setRThreshold(int v) override { inner_.setRThreshold(v); }
    int RThreshold() const override { return inner_.RThreshold(); }
    void setSThreshold(int v) override { inner_.setSThreshold(v); }
    int SThreshold() const override { return inner_.SThreshold(); }
    CommResult setPortOpen(bool open) override { return inner_.setPortOpen(open); }
    bool PortOpen() const override { return inner_.PortOpen(); }
    CommResult Output(std::span<const std::uint8_t> bytes) override
    {
        if (outputObserver_)
            outputObserver_(bytes);
        return inner_.Output(bytes);
    }
    int OutBufferCount() override { return inner_.OutBufferCount(); }
    std::string Input() override
    {
        std::string taken = inner_.Input();
        if (inputObserver_)
            inputObserver_(taken);
        return taken;
    }
    int InBufferCount() const override { return inner_.InBufferCount(); }
    void requestLowLatency() override { inner_.requestLowLatency(); }
    std::string portLocation(int n) const override { return inner_.portLocation(n); }
    std::string portName(int n) const override { return inner_.portName(n); }
    std::vector<int> portNumbersAbove(int highest) const override { return inner_.portNumbersAbove(highest); }
    int CommEvent() const override { return lastCommEvent(); }

private:
    SerialComponent& inner_;
    OutputObserver outputObserver_;
    InputObserver inputObserver_;
};

} // namespace isp
