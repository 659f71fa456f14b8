#pragma once

#include "serial/CommError.h"
#include "serial/LineSettings.h"

#include <termios.h>

#include <optional>
#include <string>

// The termios side of a serial device: the raw, parity-marking line mode this
// program needs, and checking what the driver kept of it. The boot loader
// tells header from page data by mark and space parity, so a driver that
// silently drops CMSPAR or PARODD must be caught here, not by a failed
// transfer.
namespace isp {

// Unix98 pseudo-terminal slaves have device majors 136-143. A pty has no
// wire: it clears PARENB by design, cannot produce parity errors, and its
// output queue always reads empty.
bool isPseudoTerminal(int fd);

// The termios for these settings, starting from the device's current one:
// raw (no echo, no line editing, no CR/NL translation, NUL bytes passed on),
// no flow control, CLOCAL|CREAD|HUPCL, parity errors and breaks marked in the
// input (INPCK|PARMRK), a read with no data failing with EAGAIN (VMIN 1), so
// that a read of 0 bytes means the device went away. Empty if the baud rate
// has no termios constant.
std::optional<termios> termiosFor(const termios& current, const LineSettings& line);

// Puts the line in the mode of `line`, reads it back and checks that the
// driver kept it. On a pseudo-terminal a missing PARENB is accepted. On
// failure the device's previous mode is restored and the result says why in a
// sentence naming `deviceName`; commDeviceGone when the device does not answer
// any more (EIO/ENXIO/ENODEV).
CommResult applyLineSettings(int fd, const LineSettings& line, bool pseudoTerminal, const std::string& deviceName);

// What the driver did not keep of the mode `wanted` for `line`: what the
// port cannot do (words that follow "cannot"), and a sentence for the user;
// both empty when everything asked for is in force. On a pseudo-terminal a
// missing PARENB and a changed character size are expected.
struct DroppedSetting {
    std::string refused;
    std::string sentence;
    bool any() const { return !sentence.empty(); }
};
DroppedSetting droppedSettings(const termios& wanted, const termios& kept, const LineSettings& line,
    bool pseudoTerminal, const std::string& deviceName);

// Bytes in the driver's output queue, or -1 with errno set.
int kernelOutputQueue(int fd);

// True for errno values that mean the device behind an open descriptor is gone.
bool meansDeviceGone(int error);

// "EIO (Input/output error)": errno as its constant name, for messages that
// must stay English whatever the locale.
std::string errnoName(int error);

} // namespace isp
