#include "serial/posix/PosixLine.h"

#include "serial/posix/LowLatency.h"
#include "serial/posix/PortHolders.h"
#include "serial/posix/PortLock.h"
#include "serial/posix/TermiosLine.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace isp {
namespace {

using namespace std::chrono_literals;

// Reads per wake-up; a device that floods us leaves the rest for the next
// wake-up, so other events still run.
constexpr int MaxReadsPerWake = 16;
constexpr std::size_t ReadChunk = 4096;
// Compact the output queue once this many sent bytes sit at its front.
constexpr std::size_t QueueCompactThreshold = std::size_t{64} * 1024;
// The page sender closes and reopens the port around every burst. A device
// this line had claimed (TIOCEXCL and flock) until this long ago was ours
// all along: the scan of /proc for other programs, which costs milliseconds
// on a busy desktop, is not repeated for each of the 448 reopenings.
constexpr Clock::Duration ReclaimWindow = 100ms;

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

PosixLine::PosixLine(EventLoop& loop) : loop_(loop), clock_(loop.clock()) {}

PosixLine::~PosixLine()
{
    close();
}

CommResult PosixLine::open(const std::string& device, const std::string& name, const LineSettings& settings)
{
    if (fd_)
        return CommResult::success();

    // A port another program uses is never touched: not opened (which would
    // raise DTR), and so never set to other line settings under that
    // program. Programs say they hold a port in several ways; without any, an
    // open descriptor in another process is the only sign.
    if (const auto holder = findLockHolder(device)) {
        if (holder->pid > 0)
            return {commPortHeld,
                name + " is in use by another program (process " + std::to_string(holder->pid) + ", lock file "
                    + holder->lockFile + ")."};
        return {commPortHeld, name + " is locked by another program (lock file " + holder->lockFile + ")."};
    }
    const bool reclaiming = device == lastDevice_ && clock_.now() - lastClosedAt_ < ReclaimWindow;
    if (!reclaiming) {
        if (const auto holder = firstProcessUsingDevice(device))
            return {commPortHeld, name + " is " + describeHolders({*holder}) + "."};
    }

    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return openFailure(errno, name);
    // Another program that claimed the port with TIOCEXCL only keeps out
    // unprivileged users; ask, so that root is refused the same way.
    int claimed = 0;
    if (::ioctl(fd.get(), TIOCGEXCL, &claimed) == 0 && claimed != 0)
        return {commPortHeld, name + " is held by another program (it has claimed the port for itself)."};
    // A program that holds an flock (picocom does) may belong to another
    // user, whose descriptors the scan cannot see. Ours stays while the port
    // is open, for the same programs to see.
    if (const FlockResult flock = claimWithFlock(fd.get()); flock.claim == FlockClaim::HeldElsewhere)
        return {commPortHeld,
            name + " is "
                + describeHolders(flock.holder ? std::vector<PortHolder>{*flock.holder} : std::vector<PortHolder>{})
                + " (it has locked the port)."};

    const bool pseudoTerminal = isPseudoTerminal(fd.get());
    CommResult applied = applyLineSettings(fd.get(), settings, pseudoTerminal, name);
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
    device_ = device;
    name_ = name;
    settings_ = settings;
    pseudoTerminal_ = pseudoTerminal;
    readWatch_ = loop_.watch(fd_.get(), EventLoop::Interest::Read, [this] { onReadable(); });
    return CommResult::success();
}

void PosixLine::close()
{
    if (!fd_)
        return;
    // Unwatched before the descriptor closes, so the loop never polls a dead
    // or reused descriptor and a hung-up device cannot wake us again.
    loop_.unwatch(readWatch_);
    readWatch_ = 0;
    watchForRoom(false);
    // A pty keeps the claim after the last close; give it back explicitly.
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.reset();
    lastDevice_ = device_;
    lastClosedAt_ = clock_.now();
    decoder_.reset();
    outQueue_.clear();
    outHead_ = 0;
}

CommResult PosixLine::configure(const LineSettings& settings)
{
    if (!fd_)
        return {commNotOpen, "The port is not open."};
    CommResult applied = applyLineSettings(fd_.get(), settings, pseudoTerminal_, name_);
    if (!applied) {
        if (applied.number() == commDeviceGone)
            close();
        return applied;
    }
    settings_ = settings;
    return CommResult::success();
}

CommResult PosixLine::write(std::span<const std::uint8_t> bytes)
{
    if (!fd_)
        return {commNotOpen, "The port is not open."};
    if (outHead_ >= QueueCompactThreshold) {
        outQueue_.erase(outQueue_.begin(), outQueue_.begin() + static_cast<std::ptrdiff_t>(outHead_));
        outHead_ = 0;
    }
    outQueue_.insert(outQueue_.end(), bytes.begin(), bytes.end());
    if (!pushOutput())
        return gone(errno);
    return CommResult::success();
}

SerialLine::Queue PosixLine::queued()
{
    if (!fd_)
        return {};
    if (!pushOutput())
        return {gone(errno), 0};
    int inKernel = kernelOutputQueue(fd_.get());
    if (inKernel < 0) {
        if (meansDeviceGone(errno))
            return {gone(errno), 0};
        inKernel = 0;
    }
    return {CommResult::success(), ownQueued() + static_cast<std::size_t>(inKernel)};
}

Clock::TimePoint PosixLine::wireClearAt() const
{
    // A pty has no wire to wait for.
    if (pseudoTerminal_)
        return {};
    return wire_.clearAt() + WireStartLatency;
}

void PosixLine::discardOutput()
{
    if (fd_)
        ::tcflush(fd_.get(), TCOFLUSH);
    outQueue_.clear();
    outHead_ = 0;
    watchForRoom(false);
}

void PosixLine::requestLowLatency()
{
    // Whatever the driver answers, the line goes on as it was.
    if (fd_)
        (void)isp::requestLowLatency(fd_.get());
}

bool PosixLine::pushOutput()
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
        if (written == 0)
            errno = EIO;
        return false;
    }
    if (outHead_ == outQueue_.size()) {
        outQueue_.clear();
        outHead_ = 0;
    }
    watchForRoom(ownQueued() > 0);
    return true;
}

void PosixLine::watchForRoom(bool wanted)
{
    if (wanted && writeWatch_ == 0)
        writeWatch_ = loop_.watch(fd_.get(), EventLoop::Interest::Write, [this] { onWritable(); });
    else if (!wanted && writeWatch_ != 0) {
        loop_.unwatch(writeWatch_);
        writeWatch_ = 0;
    }
}

void PosixLine::onReadable()
{
    std::uint8_t buffer[ReadChunk];
    std::string characters;
    for (int reads = 0; reads < MaxReadsPerWake; ++reads) {
        const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
        if (got > 0) {
            decoder_.feed(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)), characters);
            if (static_cast<std::size_t>(got) < sizeof buffer)
                break;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            break;
        // 0 bytes (VMIN is 1, so this is a hang-up) or EIO: the device is gone.
        lose(characters);
        return;
    }
    if (!characters.empty())
        reportReceived(characters);
}

void PosixLine::onWritable()
{
    if (!pushOutput())
        lose();
}

CommResult PosixLine::gone(int error)
{
    std::string text = "The device of " + name_ + " stopped answering (" + errnoName(error) + ").";
    close();
    return {commDeviceGone, std::move(text)};
}

} // namespace isp
