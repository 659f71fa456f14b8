#pragma once

#include "serial/Clock.h"
#include "serial/ForwardingSerialComponent.h"

#include <ostream>
#include <string>

// --trace: the serial component as the core sees it, with a written record
// of what crosses it. Every request as Input() handed it over, and every
// burst as Output() queued it, with the parity in force when it was queued:
// the boot loader tells a header (space parity) from page data (mark
// parity) by that bit alone, so a trace shows at a glance whether each
// burst went out as it must.
//
//   # velmora-isp2-cli trace of COM1 (/dev/ttyUSB0), started 2025-06-01T09:30:12.345678Z
//   # seconds since the start, direction, parity (tx), bytes in hex
//   2.104311 rx 50 47 00 00
//   2.124502 tx space 00 00 00
//   2.124651 tx mark 02 0c 94 ... 7f
//   3.551002 rx dropped 00 ff
//
// "rx dropped": characters that no request followed within 50 ms, which
// the port dropped as line noise (a device's power-up glitch) before they
// could shift a request; told by the communications control below.
namespace isp::cli {

class TraceComponent final : public ForwardingSerialComponent {
public:
    // Writes the heading at once; `portName` says which port in it.
    TraceComponent(SerialComponent& inner, std::ostream& out, Clock& clock, const std::string& portName);

    // Characters the port dropped, now.
    void dropped(std::string_view characters);

private:
    void writeTime();

    std::ostream& out_;
    Clock& clock_;
    Clock::TimePoint start_;
};

// The parity of a settings string, in words: "space", "mark", "none", ...
std::string parityName(const std::string& settings);

// The wall-clock time now, UTC, to the microsecond: "2025-06-01T09:30:12.345678Z".
std::string utcTimestampNow();

} // namespace isp::cli
