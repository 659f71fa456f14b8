#pragma once

#include "serial/EventLoop.h"
#include "serial/SerialLine.h"
#include "serial/WireSchedule.h"
#include "serial/windows/Win32Api.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A COM port on Windows, on Win32 calls only (through win32::Win32Api, so
// that this logic is tested on any system with a fake of those calls).
//
// The port is opened overlapped and shared with no one: Windows gives a COM
// port to one program at a time, and refuses the others with
// ERROR_ACCESS_DENIED. The DCB carries the line settings, binary mode, no
// flow control, DTR on and RTS off, and fErrorChar with ErrorChar '?', so a
// byte received with a wrong parity bit arrives as '?'.
//
// Reading: one overlapped ReadFile is always outstanding, and the event loop
// watches its event. The read timeouts make it end ReadGap after bytes stop
// coming, or after ReadWait without any byte. Windows then reports success
// with no bytes; Wine reports ERROR_TIMEOUT; both simply start the next
// read. (ReadIntervalTimeout = ReadTotalTimeoutMultiplier = MAXDWORD, which
// Windows documents as "return as soon as a byte is there", leaves an
// overlapped read pending for ever under Wine 8, bytes or not.)
//
// Writing: bytes are handed to one overlapped WriteFile at a time; the rest
// wait in the line's own queue. queued() adds what the driver reports still
// to send (cbOutQue); the wire schedule then covers a USB adapter that
// reports its queue empty while the chip still sends.
//
// The device is gone (USB adapter unplugged) when a call fails with a code
// that says so, or when a read ends in another failure or without data and
// ClearCommError fails too. Reads that keep ending at once without data (a
// driver's way after a surprise removal) count as gone after a few, so a
// lost device costs one report, never a busy loop.
namespace isp {

class WinLine final : public SerialLine {
public:
    // A read ends this long after the last byte came...
    static constexpr std::uint32_t ReadGapMs = 1;
    // ...or this long after it started without any byte.
    static constexpr std::uint32_t ReadWaitMs = 500;
    // Reads ending without data sooner than half of ReadWait, in a row,
    // that mean the device is gone.
    static constexpr int QuickEmptyReadsLimit = 3;
    // How long close() waits for a cancelled read or write to end. One that
    // does not is left to the driver, with its buffer, for good.
    static constexpr std::uint32_t CancelWaitMs = 1000;
    // The page sender closes and reopens the port around every burst. Some
    // drivers finish a close after CloseHandle returned and refuse an
    // opening meanwhile with ERROR_ACCESS_DENIED: a port this line closed
    // less than ReopenWindow ago is tried again for up to ReopenPatience
    // before it counts as held by another program.
    static constexpr Clock::Duration ReopenWindow = std::chrono::milliseconds(100);
    static constexpr Clock::Duration ReopenPatience = std::chrono::milliseconds(200);
    static constexpr std::size_t ReadChunk = 4096;
    static constexpr std::size_t WriteChunk = 4096;

    WinLine(EventLoop& loop, std::unique_ptr<win32::Win32Api> api);
    ~WinLine() override;
    WinLine(const WinLine&) = delete;
    WinLine& operator=(const WinLine&) = delete;

    CommResult open(const std::string& device, const std::string& name, const LineSettings& settings) override;
    bool isOpen() const override { return handle_ != nullptr; }
    void close() override;
    CommResult configure(const LineSettings& settings) override;
    CommResult write(std::span<const std::uint8_t> bytes) override;
    Queue queued() override;
    Clock::TimePoint wireClearAt() const override;
    void discardOutput() override;

private:
    CommResult applySettings(const LineSettings& settings);
    win32::ErrorCode startRead();
    void onReadEnded();
    // Why the device is gone, as a read's ending shows it; ErrorSuccess when
    // the line goes on (data, or a time-out with the port still answering).
    win32::ErrorCode goneAfterRead(const win32::IoState& ended);
    // Hands waiting bytes to WriteFile if none is running.
    win32::ErrorCode submitWrite();
    // Takes the result of the running write, if it ended, and starts the next.
    win32::ErrorCode collectWrite();
    void onWriteEnded();
    // Cancels the slot's running operation and waits for its end; a slot
    // whose operation does not end is let go of for good.
    void finish(std::unique_ptr<win32::IoSlot>& slot);
    void watchWrites(bool wanted);
    // Closes the line after the device was found gone.
    CommResult gone(win32::ErrorCode error);

    EventLoop& loop_;
    Clock& clock_;
    std::unique_ptr<win32::Win32Api> api_;
    std::unique_ptr<win32::IoSlot> reader_;
    std::unique_ptr<win32::IoSlot> writer_;
    WireSchedule wire_;

    // State of one opening.
    win32::Handle handle_ = nullptr;
    std::string name_;
    LineSettings settings_;
    bool reading_ = false;
    Clock::TimePoint readStartedAt_{};
    int quickEmptyReads_ = 0;
    std::size_t inFlight_ = 0; // bytes of the running WriteFile
    std::vector<std::uint8_t> waiting_;
    EventLoop::Id readWatch_ = 0;
    EventLoop::Id writeWatch_ = 0;

    std::string device_; // while open
    // The device this line closed last, and when.
    std::string lastDevice_;
    Clock::TimePoint lastClosedAt_{};
};

} // namespace isp
