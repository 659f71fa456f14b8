#include "serial/posix/LowLatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace isp {

LowLatency requestLowLatency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return LowLatency::NotOffered;
    if ((static_cast<unsigned>(serial.flags) & ASYNC_LOW_LATENCY) != 0)
        return LowLatency::AlreadySet;
    // Everything else goes back as read: a change of any field but the
    // user's flags is refused to an ordinary user (EPERM).
    serial.flags |= static_cast<int>(ASYNC_LOW_LATENCY);
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return LowLatency::NotOffered;
    return LowLatency::NowSet;
}

} // namespace isp
