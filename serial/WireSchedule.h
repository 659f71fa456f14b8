#pragma once

#include "serial/Clock.h"
#include "serial/LineSettings.h"

#include <algorithm>
#include <cstddef>

// When the bytes handed to the driver will have left the wire. Some USB
// adapters (pl2303, ch341) report their queue empty as soon as the chip holds
// the bytes, so a close or a parity switch right after that would cut the
// last bytes or send them with the new parity. The driver sends bytes back to
// back, so the wire is busy from when a write was accepted (or from when the
// previous bytes finish, if later) for the bytes' line time.
namespace isp {

// A USB adapter picks bytes up at its next 1 ms bus frame, so the wire starts
// up to this much after the driver accepted them.
inline constexpr Clock::Duration WireStartLatency = std::chrono::milliseconds(1);

// Time the line needs for this many bytes under these settings.
inline Clock::Duration lineTime(std::size_t bytes, const LineSettings& line)
{
    const auto bits = static_cast<long long>(bytes) * line.bitsPerByte();
    return Clock::Duration(bits * 1'000'000'000LL / line.baud);
}

class WireSchedule {
public:
    // The driver accepted `bytes` at `now`, to be sent with `line`.
    void noteQueued(std::size_t bytes, Clock::TimePoint now, const LineSettings& line)
    {
        clearAt_ = std::max(clearAt_, now) + lineTime(bytes, line);
    }

    // The earliest moment the last noted byte can have left the wire.
    Clock::TimePoint clearAt() const { return clearAt_; }

private:
    Clock::TimePoint clearAt_{};
};

} // namespace isp
