#include "serial/posix/TermiosLine.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace isp {
namespace {

// Unix98 pty slaves: majors UNIX98_PTY_SLAVE_MAJOR (136) to 136 + 7.
constexpr unsigned PtySlaveFirstMajor = 136;
constexpr unsigned PtySlaveLastMajor = 143;

constexpr std::array<std::pair<int, speed_t>, 30> BaudConstants{{
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    {3500000, B3500000},
    {4000000, B4000000},
}};

std::optional<speed_t> baudConstant(int baud)
{
    for (const auto& [rate, constant] : BaudConstants)
        if (rate == baud)
            return constant;
    return std::nullopt;
}

tcflag_t sizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t parityFlags(Parity parity)
{
    switch (parity) {
    case Parity::None: return 0;
    case Parity::Even: return PARENB;
    case Parity::Odd: return PARENB | PARODD;
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

// A pty forces CS8 and clears PARENB whatever is asked, and refuses (EINVAL)
// a change that consists only of setting PARENB again; those bits are left
// out when comparing on a pty.
tcflag_t comparedControlFlags(tcflag_t flags, bool pseudoTerminal)
{
    return pseudoTerminal ? flags & ~(PARENB | CSIZE) : flags;
}

bool sameMode(const termios& a, const termios& b, bool pseudoTerminal)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag
        && comparedControlFlags(a.c_cflag, pseudoTerminal) == comparedControlFlags(b.c_cflag, pseudoTerminal)
        && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] && cfgetispeed(&a) == cfgetispeed(&b)
        && cfgetospeed(&a) == cfgetospeed(&b);
}

std::string parityName(Parity parity)
{
    switch (parity) {
    case Parity::None: return "no";
    case Parity::Even: return "even";
    case Parity::Odd: return "odd";
    case Parity::Mark: return "mark";
    case Parity::Space: return "space";
    }
    return "unknown";
}

CommResult systemFailure(int error, const std::string& what)
{
    if (meansDeviceGone(error))
        return {commDeviceGone, what + ": the device is gone (" + errnoName(error) + ")."};
    return {commIoError, what + " (" + errnoName(error) + ")."};
}

} // namespace

DroppedSetting droppedSettings(const termios& wanted, const termios& kept, const LineSettings& line,
    bool pseudoTerminal, const std::string& deviceName)
{
    const std::string driver = "The serial driver of " + deviceName;
    const std::string asked = " (asked for " + line.toString() + ")";
    const tcflag_t lost = wanted.c_cflag & ~kept.c_cflag;
    if (lost & CMSPAR)
        return {"send mark and space parity",
            driver + " does not support mark and space parity" + asked
                + "; the boot loader needs it, so this adapter cannot be used."};
    if (lost & PARODD)
        return {"send " + parityName(line.parity) + " parity",
            driver + " dropped the odd/mark parity bit setting" + asked + "; it cannot send " + parityName(line.parity)
                + " parity."};
    if ((lost & PARENB) && !pseudoTerminal)
        return {"send " + parityName(line.parity) + " parity",
            driver + " refused " + parityName(line.parity) + " parity" + asked + "."};
    if (!pseudoTerminal && (kept.c_cflag & CSIZE) != (wanted.c_cflag & CSIZE))
        return {"send " + std::to_string(line.dataBits) + " data bits",
            driver + " does not offer " + std::to_string(line.dataBits) + " data bits" + asked + "."};
    if ((kept.c_cflag & CSTOPB) != (wanted.c_cflag & CSTOPB))
        return {"send " + std::to_string(line.stopBits) + " stop bits",
            driver + " does not offer " + std::to_string(line.stopBits) + " stop bits" + asked + "."};
    if (cfgetospeed(&kept) != cfgetospeed(&wanted) || cfgetispeed(&kept) != cfgetispeed(&wanted))
        return {"run at " + std::to_string(line.baud) + " baud",
            driver + " does not offer " + std::to_string(line.baud) + " baud" + asked + "."};
    return {};
}

bool isPseudoTerminal(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    const unsigned deviceMajor = major(status.st_rdev);
    return deviceMajor >= PtySlaveFirstMajor && deviceMajor <= PtySlaveLastMajor;
}

std::optional<termios> termiosFor(const termios& current, const LineSettings& line)
{
    const auto speed = baudConstant(line.baud);
    if (!speed)
        return std::nullopt;
    termios mode = current;
    cfmakeraw(&mode);
    mode.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | IMAXBEL);
    mode.c_iflag |= INPCK | PARMRK;
    mode.c_oflag &= ~OPOST;
    mode.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    mode.c_cflag |= CLOCAL | CREAD | HUPCL | sizeFlag(line.dataBits) | parityFlags(line.parity);
    if (line.stopBits == 2)
        mode.c_cflag |= CSTOPB;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    cfsetispeed(&mode, *speed);
    cfsetospeed(&mode, *speed);
    return mode;
}

CommResult applyLineSettings(int fd, const LineSettings& line, bool pseudoTerminal, const std::string& deviceName)
{
    termios before{};
    if (::tcgetattr(fd, &before) != 0)
        return systemFailure(errno, "Could not read the line settings of " + deviceName);
    const auto wanted = termiosFor(before, line);
    if (!wanted)
        return {commSettingsRejected,
            "The baud rate " + std::to_string(line.baud) + " is not one the serial drivers of this system offer.",
            "run at " + std::to_string(line.baud) + " baud"};
    // A mode already in force is not set again: it saves a system call per
    // opening, and on a pty setting only PARENB again fails with EINVAL.
    if (!sameMode(before, *wanted, pseudoTerminal) && ::tcsetattr(fd, TCSANOW, &*wanted) != 0) {
        const int error = errno;
        if (meansDeviceGone(error))
            return systemFailure(error, "Could not set " + line.toString() + " on " + deviceName);
        return {commSettingsRejected,
            "The serial driver of " + deviceName + " refused the settings " + line.toString() + " (" + errnoName(error)
                + ")."};
    }
    termios kept{};
    if (::tcgetattr(fd, &kept) != 0)
        return systemFailure(errno, "Could not read back the line settings of " + deviceName);
    DroppedSetting dropped = droppedSettings(*wanted, kept, line, pseudoTerminal, deviceName);
    if (dropped.any()) {
        ::tcsetattr(fd, TCSANOW, &before);
        return {commSettingsRejected, std::move(dropped.sentence), std::move(dropped.refused)};
    }
    return CommResult::success();
}

int kernelOutputQueue(int fd)
{
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

bool meansDeviceGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

std::string errnoName(int error)
{
    const char* name = strerrorname_np(error);
    const char* description = strerrordesc_np(error);
    if (!name || !description)
        return "error " + std::to_string(error);
    return std::string(name) + ", " + description;
}

} // namespace isp
