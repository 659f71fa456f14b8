#pragma once

// Low latency, as Linux serial drivers offer it: the ASYNC_LOW_LATENCY flag
// of TIOCGSERIAL/TIOCSSERIAL, which an ordinary user may set. ftdi_sio then
// sets its chip's latency timer to 1 ms instead of 16 ms, so a short request
// of the boot loader is no longer held up to 16 ms in the adapter; other
// drivers take the flag and change nothing, and a pseudo-terminal has no
// such setting at all.
namespace isp {

enum class LowLatency {
    NowSet,     // the flag was off and the driver took it
    AlreadySet, // nothing asked: the driver has it from an earlier opening
    NotOffered, // the driver has no such setting or refused it (ENOTTY, EINVAL, EPERM)
};

// Sets the flag on the open device `fd`, leaving every other field of the
// driver's serial settings as they were. Writing the flag costs ftdi_sio a
// request to the chip over USB, so a flag already set is not written again.
LowLatency requestLowLatency(int fd);

} // namespace isp
