// The Win32 calls of the serial line, made for real.
#include "serial/windows/Win32Api.h"

#include <windows.h>

#include <vector>

namespace isp::win32 {

static_assert(ErrorFileNotFound == ERROR_FILE_NOT_FOUND && ErrorAccessDenied == ERROR_ACCESS_DENIED
    && ErrorInvalidHandle == ERROR_INVALID_HANDLE && ErrorGenFailure == ERROR_GEN_FAILURE
    && ErrorBadCommand == ERROR_BAD_COMMAND && ErrorOperationAborted == ERROR_OPERATION_ABORTED
    && ErrorIoIncomplete == ERROR_IO_INCOMPLETE && ErrorIoPending == ERROR_IO_PENDING
    && ErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED && ErrorTimeout == ERROR_TIMEOUT
    && ErrorInvalidParameter == ERROR_INVALID_PARAMETER && ErrorBrokenPipe == ERROR_BROKEN_PIPE);
static_assert(PurgeTxAbort == PURGE_TXABORT && PurgeRxAbort == PURGE_RXABORT && PurgeTxClear == PURGE_TXCLEAR
    && PurgeRxClear == PURGE_RXCLEAR);
static_assert(static_cast<int>(DcbParity::Mark) == MARKPARITY && static_cast<int>(DcbParity::Space) == SPACEPARITY
    && static_cast<int>(DcbStopBits::Two) == TWOSTOPBITS && static_cast<int>(DtrControl::Enable) == DTR_CONTROL_ENABLE
    && static_cast<int>(RtsControl::Disable) == RTS_CONTROL_DISABLE);

namespace {

ErrorCode lastError()
{
    const DWORD error = ::GetLastError();
    // A call that failed without saying why still failed.
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

ErrorCode outcome(BOOL ok)
{
    return ok ? ErrorSuccess : lastError();
}

IoState ended(BOOL ok, DWORD bytes)
{
    if (ok)
        return {IoState::Phase::Done, bytes, ErrorSuccess};
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING || error == ERROR_IO_INCOMPLETE)
        return {IoState::Phase::Pending, 0, ErrorSuccess};
    return {IoState::Phase::Failed, bytes, error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE};
}

class RealIoSlot final : public IoSlot {
public:
    RealIoSlot(HANDLE event, std::size_t bufferSize) : buffer_(bufferSize) { overlapped_.hEvent = event; }
    ~RealIoSlot() override { ::CloseHandle(overlapped_.hEvent); }
    RealIoSlot(const RealIoSlot&) = delete;
    RealIoSlot& operator=(const RealIoSlot&) = delete;

    NativeHandle event() const override { return overlapped_.hEvent; }
    std::span<std::uint8_t> buffer() override { return buffer_; }

    IoState startRead(Handle file, std::size_t bytes) override
    {
        rearm();
        return ended(::ReadFile(file, buffer_.data(), static_cast<DWORD>(bytes), nullptr, &overlapped_), 0);
    }
    IoState startWrite(Handle file, std::size_t bytes) override
    {
        rearm();
        return ended(::WriteFile(file, buffer_.data(), static_cast<DWORD>(bytes), nullptr, &overlapped_), 0);
    }
    IoState result(Handle file) override
    {
        DWORD bytes = 0;
        const BOOL ok = ::GetOverlappedResult(file, &overlapped_, &bytes, FALSE);
        return ended(ok, bytes);
    }
    void cancel(Handle file) override { ::CancelIoEx(file, &overlapped_); }
    bool waitEnded(std::uint32_t milliseconds) override
    {
        return ::WaitForSingleObject(overlapped_.hEvent, milliseconds) == WAIT_OBJECT_0;
    }

private:
    void rearm()
    {
        const HANDLE event = overlapped_.hEvent;
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event;
    }

    OVERLAPPED overlapped_{};
    std::vector<std::uint8_t> buffer_;
};

class RealWin32Api final : public Win32Api {
public:
    Opened openComm(const std::string& device) override
    {
        const HANDLE handle = ::CreateFileA(
            device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return {nullptr, lastError()};
        return {handle, ErrorSuccess};
    }

    void closeHandle(Handle file) override { ::CloseHandle(file); }

    ErrorCode setupComm(Handle file, std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        return outcome(::SetupComm(file, inQueue, outQueue));
    }

    ErrorCode getCommState(Handle file, CommState& state) override
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(file, &dcb))
            return lastError();
        state.baudRate = dcb.BaudRate;
        state.byteSize = dcb.ByteSize;
        state.parity = static_cast<DcbParity>(dcb.Parity);
        state.stopBits = static_cast<DcbStopBits>(dcb.StopBits);
        state.binary = dcb.fBinary != 0;
        state.checkParity = dcb.fParity != 0;
        state.outxCtsFlow = dcb.fOutxCtsFlow != 0;
        state.outxDsrFlow = dcb.fOutxDsrFlow != 0;
        state.dtr = static_cast<DtrControl>(dcb.fDtrControl);
        state.dsrSensitivity = dcb.fDsrSensitivity != 0;
        state.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
        state.outX = dcb.fOutX != 0;
        state.inX = dcb.fInX != 0;
        state.replaceErrors = dcb.fErrorChar != 0;
        state.discardNull = dcb.fNull != 0;
        state.rts = static_cast<RtsControl>(dcb.fRtsControl);
        state.abortOnError = dcb.fAbortOnError != 0;
        state.errorChar = dcb.ErrorChar;
        return ErrorSuccess;
    }

    ErrorCode setCommState(Handle file, const CommState& state) override
    {
        // The fields this program does not set stay as the driver has them.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(file, &dcb))
            return lastError();
        dcb.BaudRate = state.baudRate;
        dcb.ByteSize = state.byteSize;
        dcb.Parity = static_cast<BYTE>(state.parity);
        dcb.StopBits = static_cast<BYTE>(state.stopBits);
        dcb.fBinary = state.binary;
        dcb.fParity = state.checkParity;
        dcb.fOutxCtsFlow = state.outxCtsFlow;
        dcb.fOutxDsrFlow = state.outxDsrFlow;
        dcb.fDtrControl = static_cast<DWORD>(state.dtr);
        dcb.fDsrSensitivity = state.dsrSensitivity;
        dcb.fTXContinueOnXoff = state.txContinueOnXoff;
        dcb.fOutX = state.outX;
        dcb.fInX = state.inX;
        dcb.fErrorChar = state.replaceErrors;
        dcb.fNull = state.discardNull;
        dcb.fRtsControl = static_cast<DWORD>(state.rts);
        dcb.fAbortOnError = state.abortOnError;
        dcb.ErrorChar = state.errorChar;
        return outcome(::SetCommState(file, &dcb));
    }

    ErrorCode setCommTimeouts(Handle file, const CommTimeouts& timeouts) override
    {
        COMMTIMEOUTS native{timeouts.readInterval, timeouts.readTotalMultiplier, timeouts.readTotalConstant,
            timeouts.writeTotalMultiplier, timeouts.writeTotalConstant};
        return outcome(::SetCommTimeouts(file, &native));
    }

    ErrorCode purgeComm(Handle file, std::uint32_t flags) override { return outcome(::PurgeComm(file, flags)); }

    CommStatus clearCommError(Handle file) override
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(file, &errors, &status))
            return {lastError(), 0, 0, 0};
        return {ErrorSuccess, errors, status.cbInQue, status.cbOutQue};
    }

    std::unique_ptr<IoSlot> makeIoSlot(std::size_t bufferSize) override
    {
        // Manual reset: it stays signalled until the next operation starts,
        // as the event loop's watches expect.
        const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!event)
            return nullptr;
        return std::make_unique<RealIoSlot>(event, bufferSize);
    }
};

} // namespace

std::unique_ptr<Win32Api> makeRealWin32Api()
{
    return std::make_unique<RealWin32Api>();
}

} // namespace isp::win32
