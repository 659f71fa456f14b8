#pragma once

#include "serial/Clock.h"
#include "serial/CommError.h"
#include "serial/LineSettings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// One serial device as a platform offers it: the narrow part of the serial
// component that differs from one system to the next. The communications
// control (CommControl) keeps the classic properties, the input buffer, the
// notifications and the drain once, above every line; a line only opens,
// moves bytes and says when they have left.
//
// Every implementation keeps these promises:
// - open() puts the device in a raw mode with the given settings (no echo, no
//   line editing, no translation, no flow control, NUL bytes passed on, a byte
//   received with a wrong parity bit reported as '?'), reads the settings back
//   and refuses what the driver did not keep (commSettingsRejected). It never
//   opens, and never touches, a device another program holds (commPortHeld);
//   while open, it keeps other programs out. Other failures: commNoSuchPort,
//   commNoPermission, commIoError. Input that arrived before the opening is
//   thrown away.
// - write() returns at once; what the driver cannot take yet follows as it
//   can, in order, driven by the event loop.
// - Received characters and the loss of the device are reported only from the
//   event loop, never from inside a call of the line. A call that finds the
//   device gone closes the line and returns commDeviceGone; the loss is then
//   not reported again.
// - After close(), and after the device was lost, nothing more is reported.
namespace isp {

class SerialLine {
public:
    struct Events {
        // Characters that arrived, one per byte received.
        std::function<void(std::string_view characters)> received;
        // The device went away (USB adapter unplugged, far end of a
        // pseudo-terminal closed); the line has closed itself.
        std::function<void()> gone;
    };

    // The bytes still on this host, and whether the device still answers.
    struct Queue {
        CommResult status; // commDeviceGone when the device went away
        std::size_t bytes = 0;
    };

    virtual ~SerialLine() = default;

    void setEvents(Events events) { events_ = std::move(events); }

    // `device` is what the port directory names: a device path on Linux,
    // "\\.\COM3" on Windows. `name` is how messages call the port ("COM3
    // (/dev/ttyUSB0)").
    virtual CommResult open(const std::string& device, const std::string& name, const LineSettings& settings) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // Puts other settings in force at once. The caller has drained first.
    virtual CommResult configure(const LineSettings& settings) = 0;

    virtual CommResult write(std::span<const std::uint8_t> bytes) = 0;
    // Bytes written that have not yet left this host: the line's own queue
    // and the driver's.
    virtual Queue queued() = 0;
    // When the last byte written can have left the wire at the earliest. Some
    // USB adapters report an empty queue as soon as the chip holds the bytes;
    // a line without a wire (a pseudo-terminal) answers a time long past.
    virtual Clock::TimePoint wireClearAt() const = 0;
    // Throws away what is queued and not yet sent.
    virtual void discardOutput() = 0;

    // Asks the driver of the open device to hand short input over at once:
    // some USB adapters hold a few received characters until a latency timer
    // runs out (16 ms on an FTDI chip), which delays every request of the
    // boot loader. The setting stays with the adapter until it is unplugged,
    // so the user's opening asks and the page sender's reopenings need not.
    // A driver without such a setting changes nothing; this never fails and
    // never closes the line. Lines whose system offers no way to ask keep
    // this default.
    virtual void requestLowLatency() {}

protected:
    void reportReceived(std::string_view characters)
    {
        if (events_.received)
            events_.received(characters);
    }
    void reportGone()
    {
        if (events_.gone)
            events_.gone();
    }
    // The device went away while the loop watched it: the line closes, hands
    // over the characters it read last, and says so once.
    void lose(std::string_view lastCharacters = {})
    {
        close();
        if (!lastCharacters.empty())
            reportReceived(lastCharacters);
        reportGone();
    }

private:
    Events events_;
};

} // namespace isp
