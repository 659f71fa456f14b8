#include "serial/windows/WinLine.h"

#include <algorithm>
#include <initializer_list>

namespace isp {
namespace {

using namespace std::chrono_literals;
using namespace isp::win32;

// Between two tries to reopen a port whose driver is still closing it.
constexpr Clock::Duration ReopenStep = 2ms;
// The driver's own queues (SetupComm): a page frame and more.
constexpr std::uint32_t DriverQueueBytes = 4096;

// Read timeouts: a read ends ReadGapMs after the last byte, or ReadWaitMs
// after it started with no byte; writes have none (a stuck queue is found by
// the communications control, which then discards it).
constexpr CommTimeouts LineTimeouts{WinLine::ReadGapMs, 0, WinLine::ReadWaitMs, 0, 0};

bool isOneOf(ErrorCode error, std::initializer_list<ErrorCode> codes)
{
    return std::find(codes.begin(), codes.end(), error) != codes.end();
}

// Codes with which the calls on an open port fail once its device has gone:
// serial.sys, usbser.sys and the USB-serial vendors' drivers differ, and
// some keep answering ERROR_ACCESS_DENIED to a handle whose device left.
bool meansDeviceGone(ErrorCode error)
{
    return isOneOf(error,
        {ErrorFileNotFound, ErrorAccessDenied, ErrorInvalidHandle, ErrorNotReady, ErrorBadCommand, ErrorGenFailure,
            ErrorDevNotExist, ErrorBrokenPipe, ErrorNoSuchDevice, ErrorDeviceNotConnected, ErrorDeviceRemoved});
}

std::string errorName(ErrorCode error)
{
    struct Name {
        ErrorCode code;
        const char* name;
    };
    static constexpr Name Names[] = {
        {ErrorFileNotFound, "ERROR_FILE_NOT_FOUND"},
        {ErrorPathNotFound, "ERROR_PATH_NOT_FOUND"},
        {ErrorAccessDenied, "ERROR_ACCESS_DENIED"},
        {ErrorInvalidHandle, "ERROR_INVALID_HANDLE"},
        {ErrorNotEnoughMemory, "ERROR_NOT_ENOUGH_MEMORY"},
        {ErrorNotReady, "ERROR_NOT_READY"},
        {ErrorBadCommand, "ERROR_BAD_COMMAND"},
        {ErrorGenFailure, "ERROR_GEN_FAILURE"},
        {ErrorSharingViolation, "ERROR_SHARING_VIOLATION"},
        {ErrorLockViolation, "ERROR_LOCK_VIOLATION"},
        {ErrorDevNotExist, "ERROR_DEV_NOT_EXIST"},
        {ErrorInvalidParameter, "ERROR_INVALID_PARAMETER"},
        {ErrorBrokenPipe, "ERROR_BROKEN_PIPE"},
        {ErrorSemTimeout, "ERROR_SEM_TIMEOUT"},
        {ErrorBusy, "ERROR_BUSY"},
        {ErrorNoSuchDevice, "ERROR_NO_SUCH_DEVICE"},
        {ErrorOperationAborted, "ERROR_OPERATION_ABORTED"},
        {ErrorDeviceNotConnected, "ERROR_DEVICE_NOT_CONNECTED"},
        {ErrorTimeout, "ERROR_TIMEOUT"},
        {ErrorDeviceRemoved, "ERROR_DEVICE_REMOVED"},
    };
    for (const Name& known : Names) {
        if (known.code == error)
            return std::string(known.name) + " (" + std::to_string(error) + ")";
    }
    return "system error " + std::to_string(error);
}

CommResult openFailure(ErrorCode error, const std::string& port)
{
    if (isOneOf(error, {ErrorAccessDenied, ErrorSharingViolation, ErrorLockViolation, ErrorBusy}))
        return {
            commPortHeld, port + " is in use by another program: Windows lets one program at a time open a COM port."};
    if (isOneOf(error,
            {ErrorFileNotFound, ErrorPathNotFound, ErrorDevNotExist, ErrorNoSuchDevice, ErrorDeviceNotConnected,
                ErrorDeviceRemoved, ErrorNotReady}))
        return {commNoSuchPort, port + " is not present: the device is not connected or has gone away."};
    return {commIoError, "Could not open " + port + " (" + errorName(error) + ")."};
}

DcbParity dcbParity(Parity parity)
{
    switch (parity) {
    case Parity::None: return DcbParity::None;
    case Parity::Odd: return DcbParity::Odd;
    case Parity::Even: return DcbParity::Even;
    case Parity::Mark: return DcbParity::Mark;
    case Parity::Space: return DcbParity::Space;
    }
    return DcbParity::None;
}

CommState commStateFor(const LineSettings& line)
{
    CommState state;
    state.baudRate = static_cast<std::uint32_t>(line.baud);
    state.byteSize = static_cast<std::uint8_t>(line.dataBits);
    state.parity = dcbParity(line.parity);
    state.stopBits = line.stopBits == 2 ? DcbStopBits::Two : DcbStopBits::One;
    state.binary = true;
    state.checkParity = line.parity != Parity::None;
    state.replaceErrors = true;
    state.errorChar = '?';
    state.discardNull = false;
    state.outxCtsFlow = false;
    state.outxDsrFlow = false;
    state.dsrSensitivity = false;
    state.outX = false;
    state.inX = false;
    state.txContinueOnXoff = true;
    state.dtr = DtrControl::Enable;
    state.rts = RtsControl::Disable;
    // A line error must not stop all reading and writing until it is
    // cleared.
    state.abortOnError = false;
    return state;
}

// What the driver did not keep of `wanted`, in words that follow "cannot";
// empty when it kept all that it reports reliably. The parity is not
// compared: a driver refuses a parity it cannot send when it is set, and
// Wine on a pseudo-terminal reads back an undefined value.
std::string dropped(const CommState& wanted, const CommState& kept)
{
    if (kept.baudRate != wanted.baudRate)
        return "run at " + std::to_string(wanted.baudRate) + " baud";
    if (kept.byteSize != wanted.byteSize)
        return "send " + std::to_string(wanted.byteSize) + " data bits";
    if (kept.stopBits != wanted.stopBits)
        return wanted.stopBits == DcbStopBits::Two ? "send 2 stop bits" : "send 1 stop bit";
    return {};
}

} // namespace

WinLine::WinLine(EventLoop& loop, std::unique_ptr<Win32Api> api)
    : loop_(loop), clock_(loop.clock()), api_(std::move(api))
{
}

WinLine::~WinLine()
{
    close();
}

CommResult WinLine::open(const std::string& device, const std::string& name, const LineSettings& settings)
{
    if (handle_)
        return CommResult::success();
    if (!reader_)
        reader_ = api_->makeIoSlot(ReadChunk);
    if (!writer_)
        writer_ = api_->makeIoSlot(WriteChunk);
    if (!reader_ || !writer_)
        return {commIoError, "Could not open " + name + ": the system has no event object to spare."};

    Win32Api::Opened opened = api_->openComm(device);
    if (device == lastDevice_ && clock_.now() - lastClosedAt_ < ReopenWindow) {
        const Clock::TimePoint giveUpAt = clock_.now() + ReopenPatience;
        while (!opened.handle && opened.error == ErrorAccessDenied && clock_.now() < giveUpAt) {
            clock_.doze(ReopenStep);
            opened = api_->openComm(device);
        }
    }
    if (!opened.handle)
        return openFailure(opened.error, name);
    handle_ = opened.handle;
    device_ = device;
    name_ = name;

    // From here on a failure closes the port again.
    const auto fail = [this](CommResult result) {
        api_->closeHandle(handle_);
        handle_ = nullptr;
        return result;
    };
    // Only advice to the driver; one that keeps its own sizes is fine.
    (void)api_->setupComm(handle_, DriverQueueBytes, DriverQueueBytes);
    if (CommResult applied = applySettings(settings); !applied) {
        // Not a device that went away while in use: one that never answered.
        if (applied.number() == commDeviceGone)
            return fail({commIoError, applied.text()});
        return fail(std::move(applied));
    }
    if (const ErrorCode error = api_->setCommTimeouts(handle_, LineTimeouts))
        return fail({commIoError, "Could not set the time-outs of " + name + " (" + errorName(error) + ")."});
    // Whatever arrived before this opening is not a reply to us. What the
    // last opening sent is left alone: it may still be on its way (a
    // pseudo-terminal holds it until the far end reads it).
    if (const ErrorCode error = api_->purgeComm(handle_, PurgeRxAbort | PurgeRxClear))
        return fail({commIoError, "Could not clear the queues of " + name + " (" + errorName(error) + ")."});
    settings_ = settings;
    quickEmptyReads_ = 0;
    if (const ErrorCode error = startRead())
        return fail({commIoError, "Could not read from " + name + " (" + errorName(error) + ")."});
    readWatch_ = loop_.watch(reader_->event(), EventLoop::Interest::Read, [this] { onReadEnded(); });
    return CommResult::success();
}

void WinLine::close()
{
    if (!handle_)
        return;
    loop_.unwatch(readWatch_);
    readWatch_ = 0;
    watchWrites(false);
    if (reading_)
        finish(reader_);
    if (inFlight_ > 0)
        finish(writer_);
    api_->closeHandle(handle_);
    handle_ = nullptr;
    lastDevice_ = device_;
    lastClosedAt_ = clock_.now();
    reading_ = false;
    inFlight_ = 0;
    waiting_.clear();
}

CommResult WinLine::configure(const LineSettings& settings)
{
    if (!handle_)
        return {commNotOpen, "The port is not open."};
    CommResult applied = applySettings(settings);
    if (!applied) {
        if (applied.number() == commDeviceGone)
            close();
        return applied;
    }
    settings_ = settings;
    return CommResult::success();
}

CommResult WinLine::applySettings(const LineSettings& settings)
{
    const CommState wanted = commStateFor(settings);
    if (const ErrorCode error = api_->setCommState(handle_, wanted)) {
        if (error == ErrorInvalidParameter)
            return {commSettingsRejected,
                "The serial driver of " + name_ + " refused the settings " + settings.toString() + " ("
                    + errorName(error) + ").",
                "use the settings " + settings.toString()};
        if (meansDeviceGone(error))
            return {commDeviceGone, "The device of " + name_ + " stopped answering (" + errorName(error) + ")."};
        return {commIoError, "Could not set the line settings of " + name_ + " (" + errorName(error) + ")."};
    }
    CommState kept;
    if (const ErrorCode error = api_->getCommState(handle_, kept)) {
        if (meansDeviceGone(error))
            return {commDeviceGone, "The device of " + name_ + " stopped answering (" + errorName(error) + ")."};
        return {commIoError, "Could not read back the line settings of " + name_ + " (" + errorName(error) + ")."};
    }
    if (std::string refused = dropped(wanted, kept); !refused.empty()) {
        std::string text = "The serial driver of " + name_ + " did not keep the settings " + settings.toString()
            + ": it cannot " + refused + ".";
        return {commSettingsRejected, std::move(text), std::move(refused)};
    }
    return CommResult::success();
}

CommResult WinLine::write(std::span<const std::uint8_t> bytes)
{
    if (!handle_)
        return {commNotOpen, "The port is not open."};
    waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
    if (const ErrorCode error = submitWrite())
        return gone(error);
    return CommResult::success();
}

SerialLine::Queue WinLine::queued()
{
    if (!handle_)
        return {};
    // The event loop does not run while the communications control drains:
    // look at the running write here.
    if (const ErrorCode error = collectWrite())
        return {gone(error), 0};
    const CommStatus status = api_->clearCommError(handle_);
    if (status.error != ErrorSuccess)
        return {gone(status.error), 0};
    // The driver may or may not count the bytes of a write still running.
    return {CommResult::success(), waiting_.size() + std::max(inFlight_, status.outQueue)};
}

Clock::TimePoint WinLine::wireClearAt() const
{
    return wire_.clearAt() + WireStartLatency;
}

void WinLine::discardOutput()
{
    if (handle_) {
        (void)api_->purgeComm(handle_, PurgeTxAbort | PurgeTxClear);
        if (inFlight_ > 0)
            finish(writer_);
    }
    inFlight_ = 0;
    waiting_.clear();
    watchWrites(false);
}

ErrorCode WinLine::startRead()
{
    const IoState started = reader_->startRead(handle_, ReadChunk);
    if (started.phase == IoState::Phase::Failed)
        return started.error;
    // Ended at once or not: the event is signalled when it has, and the
    // result is taken then.
    reading_ = true;
    readStartedAt_ = clock_.now();
    return ErrorSuccess;
}

void WinLine::onReadEnded()
{
    const IoState ended = reader_->result(handle_);
    if (ended.phase == IoState::Phase::Pending)
        return;
    reading_ = false;
    const auto* data = reader_->buffer().data();
    const std::string characters(reinterpret_cast<const char*>(data), std::min(ended.bytes, ReadChunk));

    ErrorCode cause = goneAfterRead(ended);
    if (cause == ErrorSuccess)
        cause = startRead();
    if (cause != ErrorSuccess) {
        lose(characters);
        return;
    }
    if (!characters.empty())
        reportReceived(characters);
}

ErrorCode WinLine::goneAfterRead(const IoState& ended)
{
    if (ended.phase == IoState::Phase::Done && ended.bytes > 0) {
        quickEmptyReads_ = 0;
        return ErrorSuccess;
    }
    if (ended.phase == IoState::Phase::Failed && meansDeviceGone(ended.error))
        return ended.error;
    // A time-out (success with no bytes on Windows, ERROR_TIMEOUT on Wine) or
    // another failure, such as a read aborted by a line error: gone only if
    // the port does not answer either.
    if (const CommStatus status = api_->clearCommError(handle_); status.error != ErrorSuccess)
        return status.error;
    if (ended.bytes > 0) {
        quickEmptyReads_ = 0;
        return ErrorSuccess;
    }
    const auto halfWait = std::chrono::milliseconds(ReadWaitMs / 2);
    if (clock_.now() - readStartedAt_ >= halfWait) {
        quickEmptyReads_ = 0;
        return ErrorSuccess;
    }
    if (++quickEmptyReads_ >= QuickEmptyReadsLimit)
        return ended.phase == IoState::Phase::Failed ? ended.error : ErrorNotReady;
    return ErrorSuccess;
}

ErrorCode WinLine::submitWrite()
{
    if (inFlight_ > 0 || waiting_.empty())
        return ErrorSuccess;
    // A discarded write that never ended took the slot with it.
    if (!writer_ && !(writer_ = api_->makeIoSlot(WriteChunk)))
        return ErrorNotEnoughMemory;
    const std::size_t chunk = std::min(waiting_.size(), WriteChunk);
    std::copy_n(waiting_.begin(), chunk, writer_->buffer().begin());
    const IoState started = writer_->startWrite(handle_, chunk);
    if (started.phase == IoState::Phase::Failed)
        return started.error;
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(chunk));
    inFlight_ = chunk;
    wire_.noteQueued(chunk, clock_.now(), settings_);
    watchWrites(true);
    return ErrorSuccess;
}

ErrorCode WinLine::collectWrite()
{
    if (inFlight_ == 0)
        return ErrorSuccess;
    const IoState ended = writer_->result(handle_);
    if (ended.phase == IoState::Phase::Pending)
        return ErrorSuccess;
    if (ended.phase == IoState::Phase::Failed)
        return ended.error;
    // A write that ended short (a driver's own time-out) sends the rest
    // again, first.
    if (ended.bytes < inFlight_) {
        const auto rest = writer_->buffer().subspan(ended.bytes, inFlight_ - ended.bytes);
        waiting_.insert(waiting_.begin(), rest.begin(), rest.end());
    }
    inFlight_ = 0;
    if (waiting_.empty()) {
        watchWrites(false);
        return ErrorSuccess;
    }
    return submitWrite();
}

void WinLine::onWriteEnded()
{
    if (collectWrite() != ErrorSuccess)
        lose();
}

void WinLine::finish(std::unique_ptr<IoSlot>& slot)
{
    slot->cancel(handle_);
    if (slot->waitEnded(CancelWaitMs)) {
        (void)slot->result(handle_);
        return;
    }
    // The driver may still write into this slot's OVERLAPPED and buffer, so
    // they are kept for good; the next opening takes a new slot.
    static auto* const abandoned = new std::vector<std::unique_ptr<IoSlot>>; // never freed
    abandoned->push_back(std::move(slot));
}

void WinLine::watchWrites(bool wanted)
{
    if (wanted && writeWatch_ == 0)
        writeWatch_ = loop_.watch(writer_->event(), EventLoop::Interest::Write, [this] { onWriteEnded(); });
    else if (!wanted && writeWatch_ != 0) {
        loop_.unwatch(writeWatch_);
        writeWatch_ = 0;
    }
}

CommResult WinLine::gone(ErrorCode error)
{
    std::string text = "The device of " + name_ + " stopped answering (" + errorName(error) + ").";
    close();
    return {commDeviceGone, std::move(text)};
}

} // namespace isp
