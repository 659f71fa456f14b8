#include "serial/posix/PosixSerialPort.h"

#include "serial/posix/PortLock.h"
#include "serial/posix/TermiosLine.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace isp {
namespace {

using namespace std::chrono_literals;

// How long a close waits beyond the line time of the queued bytes before it
// takes the queue for stalled and discards it.
constexpr Clock::Duration DrainAllowance = 2s;
// Polling steps while the queue drains: about the line time of what is left,
// so a short tail costs little and a long one few system calls.
constexpr Clock::Duration DrainStepMin = 100us;
constexpr Clock::Duration DrainStepMax = 2ms;
// A USB adapter picks bytes up at its next 1 ms bus frame, so the wire starts
// up to this much after the driver accepted them.
constexpr Clock::Duration WireStartLatency = 1ms;
// Reads per wake-up of the read notifier; a device that floods us leaves the
// rest for the next wake-up, so other events still run.
constexpr int MaxReadsPerWake = 16;
constexpr std::size_t ReadChunk = 4096;
// Compact the output queue once this many sent bytes sit at its front.
constexpr std::size_t QueueCompactThreshold = std::size_t{64} * 1024;

std::string describe(int port, const std::string& path)
{
    std::string text = "COM" + std::to_string(port);
    if (!path.empty())
        text += " (" + path + ")";
    return text;
}

CommResult openFailure(int error, const std::string& port)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return {commNoSuchPort, port + " is not present: the device is not connected or has gone away."};
    case EACCES:
    case EPERM:
        return {commNoPermission,
            "You may not open " + port
                + ": your user needs read and write access to the device, which on most "
                  "Linux systems means membership of the dialout group (log out and in again after joining it)."};
    case EBUSY: return {commPortHeld, port + " is held by another program."};
    default: return {commIoError, "Could not open " + port + " (" + errnoName(error) + ")."};
    }
}

} // namespace

PosixSerialPort::PosixSerialPort(PortDirectory& directory, Clock& clock)
    : directory_(directory),
      clock_(clock),
      readNotifier_(new QSocketNotifier(QSocketNotifier::Read, &context_)),
      writeNotifier_(new QSocketNotifier(QSocketNotifier::Write, &context_))
{
    QObject::connect(readNotifier_, &QSocketNotifier::activated, &context_, [this] { onReadable(); });
    QObject::connect(writeNotifier_, &QSocketNotifier::activated, &context_, [this] { onWritable(); });
}

PosixSerialPort::~PosixSerialPort()
{
    (void)close();
}

CommResult PosixSerialPort::setCommPort(int n)
{
    if (n < 1)
        return {commNoSuchPort, "There is no COM" + std::to_string(n) + "; ports are numbered from 1."};
    if (fd_)
        return {commPortIsOpen, "The port number cannot change while " + portName() + " is open."};
    port_ = n;
    return CommResult::success();
}

CommResult PosixSerialPort::setSettings(std::string_view text)
{
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return {commBadSettings,
            "\"" + std::string(text)
                + "\" is not a settings string of the form baud,parity,data bits,stop bits "
                  "(for example 38400,M,8,1)."};
    if (!fd_) {
        settings_ = *parsed;
        return CommResult::success();
    }
    // Bytes already queued leave with the settings they were queued under.
    CommResult drained;
    switch (drain()) {
    case Drain::Done: break;
    case Drain::DeviceGone:
        deviceVanished();
        return {commDeviceGone, "The device of " + describe(port_, devicePath_) + " vanished."};
    case Drain::Stalled:
        ::tcflush(fd_.get(), TCOFLUSH);
        outQueue_.clear();
        outHead_ = 0;
        drained = {commTransmitStalled,
            "The bytes queued for " + portName()
                + " did not leave in time and were discarded; the new settings "
                  "are in force."};
        break;
    }
    CommResult applied = applyLineSettings(fd_.get(), *parsed, pseudoTerminal_, portName());
    if (!applied) {
        if (applied.number() == commDeviceGone)
            deviceVanished();
        return applied;
    }
    settings_ = *parsed;
    return drained;
}

CommResult PosixSerialPort::setPortOpen(bool open)
{
    return open ? this->open() : close();
}

CommResult PosixSerialPort::open()
{
    if (fd_)
        return CommResult::success();
    const std::string path = directory_.pathOf(port_);
    if (path.empty())
        return {commNoSuchPort, "There is no COM" + std::to_string(port_) + " on this system."};
    const std::string name = describe(port_, path);

    if (const auto holder = findLockHolder(path)) {
        if (holder->pid > 0)
            return {commPortHeld,
                name + " is in use by another program (process " + std::to_string(holder->pid) + ", lock file "
                    + holder->lockFile + ")."};
        return {commPortHeld, name + " is locked by another program (lock file " + holder->lockFile + ")."};
    }

    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return openFailure(errno, name);
    // Another program that claimed the port with TIOCEXCL only keeps out
    // unprivileged users; ask, so that root is refused the same way.
    int claimed = 0;
    if (::ioctl(fd.get(), TIOCGEXCL, &claimed) == 0 && claimed != 0)
        return {commPortHeld, name + " is held by another program (it has claimed the port for itself)."};

    const bool pseudoTerminal = isPseudoTerminal(fd.get());
    CommResult applied = applyLineSettings(fd.get(), settings_, pseudoTerminal, name);
    if (!applied)
        return applied;

    // DTR on, RTS off. A pty has no modem lines; that failure is expected.
    const int dtr = TIOCM_DTR;
    const int rts = TIOCM_RTS;
    ::ioctl(fd.get(), TIOCMBIS, &dtr);
    ::ioctl(fd.get(), TIOCMBIC, &rts);
    // Other programs' open() now fails with EBUSY while we have the port.
    ::ioctl(fd.get(), TIOCEXCL);
    // Whatever arrived before this opening is not a reply to us.
    ::tcflush(fd.get(), TCIFLUSH);

    fd_ = std::move(fd);
    devicePath_ = path;
    pseudoTerminal_ = pseudoTerminal;
    readNotifier_->setSocket(fd_.get());
    writeNotifier_->setSocket(fd_.get());
    readNotifier_->setEnabled(true);
    return CommResult::success();
}

CommResult PosixSerialPort::close()
{
    if (!fd_)
        return CommResult::success();
    CommResult result;
    switch (drain()) {
    case Drain::Done: break;
    case Drain::DeviceGone:
        deviceVanished();
        return {commDeviceGone,
            "The device of " + describe(port_, devicePath_) + " vanished before its last bytes were sent."};
    case Drain::Stalled:
        ::tcflush(fd_.get(), TCOFLUSH);
        result = {commTransmitStalled,
            "The bytes queued for " + portName() + " did not leave in time and were discarded; the port is closed."};
        break;
    }
    releaseDevice();
    return result;
}

PosixSerialPort::Drain PosixSerialPort::drain()
{
    const int fd = fd_.get();
    const auto start = clock_.now();
    const std::size_t queuedAtStart = ownQueued() + static_cast<std::size_t>(std::max(kernelOutputQueue(fd), 0));
    const auto deadline = start + DrainAllowance + lineTime(queuedAtStart, settings_);
    while (true) {
        if (!pushOutput())
            return Drain::DeviceGone;
        int inKernel = kernelOutputQueue(fd);
        if (inKernel < 0) {
            if (meansDeviceGone(errno))
                return Drain::DeviceGone;
            inKernel = 0;
        }
        const std::size_t remaining = ownQueued() + static_cast<std::size_t>(inKernel);
        if (remaining == 0)
            break;
        const auto now = clock_.now();
        if (now >= deadline)
            return Drain::Stalled;
        const auto step = std::clamp(lineTime(remaining, settings_), DrainStepMin, DrainStepMax);
        clock_.sleepFor(std::min<Clock::Duration>(step, deadline - now));
    }
    // The queue reads empty; on a real line the last bytes may still be in the
    // adapter. A pty has no wire to wait for.
    if (!pseudoTerminal_) {
        const auto wireClear = wire_.clearAt() + WireStartLatency;
        const auto now = clock_.now();
        if (now < wireClear)
            clock_.sleepFor(wireClear - now);
    }
    return Drain::Done;
}

bool PosixSerialPort::pushOutput()
{
    while (outHead_ < outQueue_.size()) {
        const ssize_t written = ::write(fd_.get(), outQueue_.data() + outHead_, outQueue_.size() - outHead_);
        if (written > 0) {
            wire_.noteQueued(static_cast<std::size_t>(written), clock_.now(), settings_);
            outHead_ += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN)
            break;
        return false;
    }
    if (outHead_ == outQueue_.size()) {
        outQueue_.clear();
        outHead_ = 0;
    }
    writeNotifier_->setEnabled(ownQueued() > 0);
    return true;
}

CommResult PosixSerialPort::Output(std::span<const std::uint8_t> bytes)
{
    if (!fd_)
        return {commNotOpen, "COM" + std::to_string(port_) + " is not open."};
    if (outHead_ >= QueueCompactThreshold) {
        outQueue_.erase(outQueue_.begin(), outQueue_.begin() + static_cast<std::ptrdiff_t>(outHead_));
        outHead_ = 0;
    }
    outQueue_.insert(outQueue_.end(), bytes.begin(), bytes.end());
    if (!pushOutput()) {
        const std::string name = portName();
        deviceVanished();
        return {commDeviceGone, "The device of " + name + " vanished; the bytes were not sent."};
    }
    return CommResult::success();
}

int PosixSerialPort::OutBufferCount()
{
    if (!fd_)
        return 0;
    if (!pushOutput()) {
        deviceVanished();
        return 0;
    }
    int inKernel = kernelOutputQueue(fd_.get());
    if (inKernel < 0) {
        if (meansDeviceGone(errno)) {
            deviceVanished();
            return 0;
        }
        inKernel = 0;
    }
    return static_cast<int>(ownQueued()) + inKernel;
}

std::string PosixSerialPort::Input()
{
    std::size_t count = input_.size();
    if (inputLen_ > 0)
        count = std::min(count, static_cast<std::size_t>(inputLen_));
    std::string taken = input_.substr(0, count);
    input_.erase(0, count);
    return taken;
}

void PosixSerialPort::onReadable()
{
    // A wake-up already on its way when the port closed.
    if (!fd_)
        return;
    std::uint8_t buffer[ReadChunk];
    for (int reads = 0; reads < MaxReadsPerWake; ++reads) {
        const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
        if (got > 0) {
            decoder_.feed(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)), input_);
            if (static_cast<std::size_t>(got) < sizeof buffer)
                break;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            break;
        // 0 bytes (VMIN is 1, so this is a hang-up) or EIO: the device is gone.
        deviceVanished();
        return;
    }
    if (rThreshold_ > 0 && static_cast<int>(input_.size()) >= rThreshold_)
        postReceiveNotification();
}

void PosixSerialPort::onWritable()
{
    if (!fd_)
        return;
    if (!pushOutput())
        deviceVanished();
}

void PosixSerialPort::postReceiveNotification()
{
    if (receivePosted_)
        return;
    receivePosted_ = true;
    QMetaObject::invokeMethod(
        &context_,
        [this] {
            receivePosted_ = false;
            // The count may have fallen since: a handler took the input, or the port closed.
            if (fd_ && rThreshold_ > 0 && static_cast<int>(input_.size()) >= rThreshold_)
                raiseOnComm(comEvReceive);
        },
        Qt::QueuedConnection);
}

void PosixSerialPort::deviceVanished()
{
    releaseDevice();
    QMetaObject::invokeMethod(
        &context_, [this] { raiseOnComm(comEventDeviceGone); }, Qt::QueuedConnection);
}

void PosixSerialPort::releaseDevice()
{
    // Off before the descriptor closes, so the event loop never polls a dead
    // or reused descriptor and a hung-up device cannot wake us again.
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    // A pty keeps the claim after the last close; give it back explicitly.
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.reset();
    devicePath_.clear();
    input_.clear();
    decoder_.reset();
    outQueue_.clear();
    outHead_ = 0;
}

std::string PosixSerialPort::portName() const
{
    return describe(port_, devicePath_);
}

} // namespace isp
