#pragma once

#include <string>
#include <utility>

// Failures of the serial component are numbered, like the errors of the
// classic communications control; 8005 is the one the windows act upon.
namespace isp {

enum CommErrorNumber : int {
    commOk = 0,
    commPortIsOpen = 8000,       // operation not allowed while the port is open
    commNoSuchPort = 8002,       // COMn names no serial port of this system
    commPortHeld = 8005,         // another program holds the port
    commNotOpen = 8012,          // operation needs an open port
    commSettingsRejected = 8015, // the driver refused or dropped a line setting
    commBadSettings = 8016,      // a settings string this component cannot parse
    commNoPermission = 8020,     // the user may not open the device
    commDeviceGone = 8021,       // the device vanished while in use
    commIoError = 8022,          // any other failure of the operating system
    commTransmitStalled = 8023,  // queued bytes did not leave in time
};

// The result of a component operation: ok, or a number with an English
// sentence that a window can show as it stands.
class [[nodiscard]] CommResult {
public:
    CommResult() = default;
    CommResult(int number, std::string text) : number_(number), text_(std::move(text)) {}
    // With commSettingsRejected: what the port cannot do, in words that
    // follow "cannot" ("send mark and space parity", "run at 38400 baud").
    CommResult(int number, std::string text, std::string refused)
        : number_(number), text_(std::move(text)), refused_(std::move(refused))
    {
    }

    static CommResult success() { return {}; }

    bool ok() const { return number_ == commOk; }
    explicit operator bool() const { return ok(); }
    int number() const { return number_; }
    const std::string& text() const { return text_; }
    const std::string& refused() const { return refused_; }

private:
    int number_ = commOk;
    std::string text_;
    std::string refused_;
};

// A component's sentence without the full stop it may end with, to sit
// inside a front end's own sentence.
inline std::string clause(std::string text)
{
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace isp
