#pragma once

#include "serial/EventLoop.h"
#include "serial/ForwardingSerialComponent.h"
#include "transfer/Protocol.h"

#include <string>
#include <vector>

// The serial component as the handlers see it, with every operation they
// make written down ("CommPort=3", "Settings=38400,M,8,1", "PortOpen=true",
// "Output=3 bytes", ...), and notifications of line and modem events that a
// test can inject.
namespace isp::test {

class RecordingSerialComponent final : public ForwardingSerialComponent {
public:
    RecordingSerialComponent(SerialComponent& inner, EventLoop& loop) : ForwardingSerialComponent(inner), loop_(loop) {}
    ~RecordingSerialComponent() override { loop_.cancel(injected_); }

    const std::vector<std::string>& operations() const { return operations_; }
    void clearOperations() { operations_.clear(); }

    // Reports a line or modem event (framing error, ring, ...) through the
    // event loop, as a real line would.
    void injectNotification(int event)
    {
        injected_ = loop_.post([this, event] {
            injected_ = 0;
            raiseOnComm(event);
        });
    }

    CommResult setCommPort(int n) override
    {
        record("CommPort", n);
        return ForwardingSerialComponent::setCommPort(n);
    }
    CommResult setSettings(std::string_view s) override
    {
        record("Settings", std::string(s));
        return ForwardingSerialComponent::setSettings(s);
    }
    void setInBufferSize(int v) override
    {
        record("InBufferSize", v);
        ForwardingSerialComponent::setInBufferSize(v);
    }
    void setOutBufferSize(int v) override
    {
        record("OutBufferSize", v);
        ForwardingSerialComponent::setOutBufferSize(v);
    }
    void setInputLen(int v) override
    {
        record("InputLen", v);
        ForwardingSerialComponent::setInputLen(v);
    }
    void setRThreshold(int v) override
    {
        record("RThreshold", v);
        ForwardingSerialComponent::setRThreshold(v);
    }
    void setSThreshold(int v) override
    {
        record("SThreshold", v);
        ForwardingSerialComponent::setSThreshold(v);
    }
    CommResult setPortOpen(bool open) override
    {
        record("PortOpen", open ? "true" : "false");
        return ForwardingSerialComponent::setPortOpen(open);
    }
    void requestLowLatency() override
    {
        record("LowLatency", "requested");
        ForwardingSerialComponent::requestLowLatency();
    }
    CommResult Output(std::span<const std::uint8_t> bytes) override
    {
        record("Output", std::to_string(bytes.size()) + " bytes");
        return ForwardingSerialComponent::Output(bytes);
    }

private:
    void record(const char* what, int value) { operations_.push_back(std::string(what) + '=' + std::to_string(value)); }
    void record(const char* what, const std::string& value) { operations_.push_back(std::string(what) + '=' + value); }

    EventLoop& loop_;
    std::vector<std::string> operations_;
    EventLoop::Id injected_ = 0;
};

} // namespace isp::test
