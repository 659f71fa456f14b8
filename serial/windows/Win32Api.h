#pragma once

#include "serial/EventLoop.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

// The Win32 calls of the Windows serial line, and nothing more, in plain
// types: no <windows.h> here. RealWin32Api.cpp makes the calls; the tests
// hand the line a fake, so that what it does with their answers (error
// codes, queue sizes, read endings) is tested on any system, including what
// no emulator shows: a port held by another program, the parity error
// character, a driver's output queue, the codes of an unplugged USB adapter.
//
// Every call returns at once. A failure is the thread's last error code as
// GetLastError() gave it; 0 means success.
namespace isp::win32 {

using Handle = void*;
using ErrorCode = std::uint32_t;

// The system error codes the line acts upon (winerror.h).
inline constexpr ErrorCode ErrorSuccess = 0;
inline constexpr ErrorCode ErrorFileNotFound = 2;
inline constexpr ErrorCode ErrorPathNotFound = 3;
inline constexpr ErrorCode ErrorAccessDenied = 5;
inline constexpr ErrorCode ErrorInvalidHandle = 6;
inline constexpr ErrorCode ErrorNotEnoughMemory = 8;
inline constexpr ErrorCode ErrorNotReady = 21;
inline constexpr ErrorCode ErrorBadCommand = 22;
inline constexpr ErrorCode ErrorGenFailure = 31;
inline constexpr ErrorCode ErrorSharingViolation = 32;
inline constexpr ErrorCode ErrorLockViolation = 33;
inline constexpr ErrorCode ErrorDevNotExist = 55;
inline constexpr ErrorCode ErrorInvalidParameter = 87;
inline constexpr ErrorCode ErrorBrokenPipe = 109;
inline constexpr ErrorCode ErrorSemTimeout = 121;
inline constexpr ErrorCode ErrorBusy = 170;
inline constexpr ErrorCode ErrorNoSuchDevice = 433;
inline constexpr ErrorCode ErrorOperationAborted = 995;
inline constexpr ErrorCode ErrorIoIncomplete = 996;
inline constexpr ErrorCode ErrorIoPending = 997;
inline constexpr ErrorCode ErrorDeviceNotConnected = 1167;
inline constexpr ErrorCode ErrorTimeout = 1460;
inline constexpr ErrorCode ErrorDeviceRemoved = 1617;

// DCB.Parity, DCB.StopBits, DCB.fDtrControl and DCB.fRtsControl values.
enum class DcbParity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class DcbStopBits : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
enum class DtrControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2 };
enum class RtsControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// The fields of a DCB that this program sets. The real call starts from the
// driver's current DCB (GetCommState) and leaves the other fields
// (XonLim, XoffLim, XonChar, XoffChar, EofChar, EvtChar) as they are.
struct CommState {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 8;
    DcbParity parity = DcbParity::None;
    DcbStopBits stopBits = DcbStopBits::One;
    bool binary = true;       // fBinary
    bool checkParity = false; // fParity
    bool outxCtsFlow = false; // fOutxCtsFlow
    bool outxDsrFlow = false; // fOutxDsrFlow
    DtrControl dtr = DtrControl::Disable;
    bool dsrSensitivity = false;  // fDsrSensitivity
    bool txContinueOnXoff = true; // fTXContinueOnXoff
    bool outX = false;            // fOutX
    bool inX = false;             // fInX
    bool replaceErrors = false;   // fErrorChar
    bool discardNull = false;     // fNull
    RtsControl rts = RtsControl::Disable;
    bool abortOnError = false; // fAbortOnError
    char errorChar = 0;        // ErrorChar

    bool operator==(const CommState&) const = default;
};

// COMMTIMEOUTS, in milliseconds.
struct CommTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;

    bool operator==(const CommTimeouts&) const = default;
};

inline constexpr std::uint32_t MaxDword = 0xFFFFFFFF;

// PurgeComm flags.
inline constexpr std::uint32_t PurgeTxAbort = 0x1;
inline constexpr std::uint32_t PurgeRxAbort = 0x2;
inline constexpr std::uint32_t PurgeTxClear = 0x4;
inline constexpr std::uint32_t PurgeRxClear = 0x8;

// What ClearCommError reports: the line errors it cleared (CE_*) and the
// bytes in the driver's queues (COMSTAT cbInQue, cbOutQue).
struct CommStatus {
    ErrorCode error = ErrorSuccess;
    std::uint32_t lineErrors = 0;
    std::size_t inQueue = 0;
    std::size_t outQueue = 0;
};

// Where an overlapped read or write stands.
struct IoState {
    enum class Phase {
        Pending, // still running (ERROR_IO_PENDING, ERROR_IO_INCOMPLETE)
        Done,    // ended; `bytes` moved
        Failed,  // ended with `error`; `bytes` may still have moved
    };
    Phase phase = Phase::Pending;
    std::size_t bytes = 0;
    ErrorCode error = ErrorSuccess;
};

// One overlapped operation at a time: an OVERLAPPED, its manual-reset event
// and the buffer the operation reads into or writes from. The event is
// signalled when the operation ends (also when it ended at once) and reset
// when the next one starts; the event loop watches it. An operation that
// is still running when its slot would go must be cancelled and waited for
// first: the driver writes into the OVERLAPPED and the buffer until then.
class IoSlot {
public:
    virtual ~IoSlot() = default;

    // The event object, for the event loop to watch (a HANDLE on Windows;
    // where only the tests build the line, whatever their loop watches).
    virtual NativeHandle event() const = 0;
    virtual std::span<std::uint8_t> buffer() = 0;

    // ReadFile into the first `bytes` of the buffer / WriteFile of them.
    virtual IoState startRead(Handle file, std::size_t bytes) = 0;
    virtual IoState startWrite(Handle file, std::size_t bytes) = 0;
    // GetOverlappedResult without waiting.
    virtual IoState result(Handle file) = 0;
    // CancelIoEx for this operation only.
    virtual void cancel(Handle file) = 0;
    // Waits at most `milliseconds` for the operation to end; false if it
    // has not.
    virtual bool waitEnded(std::uint32_t milliseconds) = 0;
};

class Win32Api {
public:
    struct Opened {
        Handle handle = nullptr; // null on failure
        ErrorCode error = ErrorSuccess;
    };

    virtual ~Win32Api() = default;

    // CreateFile for reading and writing, shared with no one, an existing
    // device only, overlapped.
    virtual Opened openComm(const std::string& device) = 0;
    virtual void closeHandle(Handle file) = 0;

    // SetupComm: the driver's queue sizes.
    virtual ErrorCode setupComm(Handle file, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual ErrorCode getCommState(Handle file, CommState& state) = 0;
    virtual ErrorCode setCommState(Handle file, const CommState& state) = 0;
    virtual ErrorCode setCommTimeouts(Handle file, const CommTimeouts& timeouts) = 0;
    virtual ErrorCode purgeComm(Handle file, std::uint32_t flags) = 0;
    virtual CommStatus clearCommError(Handle file) = 0;

    // Empty when the system has no event object to spare.
    virtual std::unique_ptr<IoSlot> makeIoSlot(std::size_t bufferSize) = 0;
};

// The real calls (Windows only).
std::unique_ptr<Win32Api> makeRealWin32Api();

} // namespace isp::win32
