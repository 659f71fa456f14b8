#pragma once

#include "serial/CommError.h"
#include "serial/CommEvents.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The serial-port component the program talks to, shaped after the classic
// communications control: properties are written while the port is closed,
// PortOpen opens and closes it, Output queues bytes, Input takes what came
// in, and OnComm reports events on the user-interface thread.
//
// Every implementation (the Linux termios backend, the simulated line of the
// tests) keeps these promises:
// - Starting settings: port 1, "9600,N,8,1", buffers 1024/512, InputLen 0,
//   RThreshold 0, SThreshold 0, no handshaking, DTR on, RTS off, NUL bytes
//   passed on, a byte received with a wrong parity bit handed over as '?'.
// - setPortOpen(false) never cuts a queued byte short and never lets one leave
//   with other line settings: it waits until the queue has left the line
//   (bounded: a stalled queue is discarded after a generous time-out), then
//   closes. Closing a closed port does nothing. Closing discards unread input.
// - Output() puts the bytes on their way at once; OutBufferCount() counts the
//   bytes still queued anywhere on this host, so a loop polling it ends
//   without the event loop running.
// - OnComm is never raised from inside one of these calls: it comes from the
//   event loop, so a handler may call any operation, or show a modal window.
namespace isp {

class SerialComponent {
public:
    using Handler = std::function<void()>;

    virtual ~SerialComponent() = default;

    // n of COMn; n >= 1. Only while closed (commPortIsOpen otherwise).
    virtual CommResult setCommPort(int n) = 0;
    virtual int CommPort() const = 0;

    // "baud,parity,data,stop". Applied at once when the port is open.
    virtual CommResult setSettings(std::string_view settings) = 0;
    virtual std::string Settings() const = 0;

    // Queue sizes in bytes. Recorded; the host's own queues are larger.
    virtual void setInBufferSize(int bytes) = 0;
    virtual int InBufferSize() const = 0;
    virtual void setOutBufferSize(int bytes) = 0;
    virtual int OutBufferSize() const = 0;

    // Characters one read of Input() takes; 0 takes everything waiting.
    virtual void setInputLen(int characters) = 0;
    virtual int InputLen() const = 0;

    // OnComm(comEvReceive) is raised once at least this many characters wait;
    // 0 means no receive notifications.
    virtual void setRThreshold(int characters) = 0;
    virtual int RThreshold() const = 0;

    // Send notifications; this program always keeps them off (0).
    virtual void setSThreshold(int bytes) = 0;
    virtual int SThreshold() const = 0;

    // true opens COM<CommPort()> with the current settings; false drains and
    // closes. Failures: commPortHeld (8005) when another program holds the
    // port; commNoSuchPort, commNoPermission, commSettingsRejected, ...
    virtual CommResult setPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Queues bytes for sending and returns at once.
    virtual CommResult Output(std::span<const std::uint8_t> bytes) = 0;
    // Bytes queued on this host that have not yet left for the line.
    virtual int OutBufferCount() = 0;

    // Takes and removes the waiting characters (up to InputLen). One character
    // per received byte; a byte with a wrong parity bit arrives as '?'.
    virtual std::string Input() = 0;
    // Characters waiting to be read.
    virtual int InBufferCount() const = 0;

    // While open: asks the driver to pass short input on at once instead of
    // holding it for a USB adapter's latency timer (SerialLine says more).
    // Nothing changes where the driver has no such setting.
    virtual void requestLowLatency() = 0;

    // Where COMn lives on this system, for showing to the user (on Linux the
    // device path, "/dev/ttyUSB0"); empty when no such port is known.
    virtual std::string portLocation(int n) const = 0;
    // How messages name COMn: "COM2 (/dev/ttyUSB0)", or the port as the user
    // named it where ports are not numbered ("/dev/pts/3").
    virtual std::string portName(int n) const = 0;
    // COM numbers above `highest` that the system has (see PortDirectory).
    virtual std::vector<int> portNumbersAbove(int highest) const = 0;

    // The cause of the notification being delivered (see CommEvents.h).
    virtual int CommEvent() const = 0;

    // The OnComm notification. Called on the user-interface thread.
    void setOnComm(Handler handler) { onComm_ = std::move(handler); }

protected:
    // For implementations: records the cause and calls the handler.
    void raiseOnComm(int event)
    {
        commEvent_ = event;
        if (onComm_)
            onComm_();
    }
    int lastCommEvent() const { return commEvent_; }

private:
    Handler onComm_;
    int commEvent_ = 0;
};

} // namespace isp
