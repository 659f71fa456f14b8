// The Windows serial line's logic against a fake of its Win32 calls: what it
// asks of the driver, and what it does with each answer. Here are the
// Windows behaviours no emulator shows: a port another program holds, the
// parity error character, the driver's output queue, the failure codes of an
// unplugged USB adapter. (Under Wine, tests/windows/ runs the real calls on
// a pseudo-terminal.)
#include "serial/windows/WinLine.h"
#include "serial/windows/PortList.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace isp;
using namespace isp::win32;
using namespace std::chrono_literals;

namespace {

// Time that moves only when the line dozes or the test says so, and watches
// that run when the test signals their event. The line posts no tasks.
class ManualLoop final : public EventLoop, public Clock {
public:
    TimePoint now() override { return now_; }
    void sleepUntil(TimePoint when) override { now_ = std::max(now_, when); }
    void doze(Duration duration) override { now_ += duration; }
    Clock& clock() override { return *this; }
    Id post(Task /*task*/) override
    {
        ADD_FAILURE() << "the line posted a task";
        return 0;
    }
    Id runAt(TimePoint /*when*/, Task /*task*/) override
    {
        ADD_FAILURE() << "the line set a timed task";
        return 0;
    }
    void cancel(Id /*id*/) override {}
    Id watch(NativeHandle handle, Interest /*interest*/, Task ready) override
    {
        watches_[++lastWatch_] = {handle, std::move(ready)};
        return lastWatch_;
    }
    void unwatch(Id id) override { watches_.erase(id); }

    // The event object is signalled: its watch runs.
    void signal(NativeHandle handle)
    {
        const auto found =
            std::find_if(watches_.begin(), watches_.end(), [&](auto& w) { return w.second.first == handle; });
        if (found != watches_.end()) {
            Task task = found->second.second; // it may remove itself
            task();
        }
    }
    bool watching(NativeHandle handle) const
    {
        return std::any_of(watches_.begin(), watches_.end(), [&](const auto& w) { return w.second.first == handle; });
    }
    void advance(Duration d) { now_ += d; }

private:
    TimePoint now_{};
    std::map<Id, std::pair<NativeHandle, Task>> watches_;
    Id lastWatch_ = 0;
};

class FakeWindows;

// One overlapped operation: it runs until the test ends it.
class FakeSlot final : public IoSlot {
public:
    FakeSlot(FakeWindows& windows, int event, std::size_t size) : windows_(windows), event_(event), buffer_(size) {}
    ~FakeSlot() override;
    FakeSlot(const FakeSlot&) = delete;
    FakeSlot& operator=(const FakeSlot&) = delete;

    NativeHandle event() const override { return event_; }
    std::span<std::uint8_t> buffer() override { return buffer_; }
    IoState startRead(Handle file, std::size_t bytes) override;
    IoState startWrite(Handle file, std::size_t bytes) override;
    IoState result(Handle /*file*/) override { return outcome; }
    void cancel(Handle file) override;
    bool waitEnded(std::uint32_t /*milliseconds*/) override { return outcome.phase != IoState::Phase::Pending; }

    // The running operation ends so, with these bytes read.
    void end(IoState state, std::string_view data = {})
    {
        std::copy(data.begin(), data.end(), buffer_.begin());
        outcome = state;
    }

    IoState outcome{IoState::Phase::Done, 0, 0};
    bool reading = false;

private:
    FakeWindows& windows_;
    int event_;
    std::vector<std::uint8_t> buffer_;
};

// The system behind the seam: scripted answers, and what was asked.
class FakeWindows final : public Win32Api {
public:
    std::map<std::string, ErrorCode> openErrors;
    int deniedOpenings = 0; // the next ones fail with ERROR_ACCESS_DENIED
    ErrorCode setStateError = 0;
    std::optional<CommState> readBack; // else what was set
    CommStatus status;                 // ClearCommError
    ErrorCode startError = 0;          // ReadFile and WriteFile
    bool cancelledOperationsEnd = true;

    int closes = 0;
    std::vector<CommState> states;
    CommTimeouts timeouts;
    std::vector<std::uint32_t> purges;
    std::string sent;
    int readsStarted = 0;
    std::vector<FakeSlot*> slots;
    int slotsFreed = 0;

    FakeSlot& reader()
    {
        return **std::find_if(slots.rbegin(), slots.rend(), [](auto* s) { return s->reading; });
    }
    FakeSlot& writer()
    {
        return **std::find_if(slots.rbegin(), slots.rend(), [](auto* s) { return !s->reading; });
    }

    Opened openComm(const std::string& device) override
    {
        if (deniedOpenings > 0) {
            --deniedOpenings;
            return {nullptr, ErrorAccessDenied};
        }
        const auto error = openErrors.find(device);
        return error != openErrors.end() ? Opened{nullptr, error->second} : Opened{this, 0};
    }
    void closeHandle(Handle /*file*/) override { ++closes; }
    ErrorCode setupComm(Handle /*file*/, std::uint32_t /*in*/, std::uint32_t /*out*/) override { return 0; }
    ErrorCode getCommState(Handle /*file*/, CommState& state) override
    {
        state = readBack.value_or(states.back());
        return 0;
    }
    ErrorCode setCommState(Handle /*file*/, const CommState& state) override
    {
        states.push_back(state);
        return setStateError;
    }
    ErrorCode setCommTimeouts(Handle /*file*/, const CommTimeouts& set) override
    {
        timeouts = set;
        return 0;
    }
    ErrorCode purgeComm(Handle /*file*/, std::uint32_t flags) override
    {
        purges.push_back(flags);
        return 0;
    }
    CommStatus clearCommError(Handle /*file*/) override { return status; }
    std::unique_ptr<IoSlot> makeIoSlot(std::size_t size) override
    {
        slots.push_back(new FakeSlot(*this, static_cast<int>(slots.size()) + 100, size));
        return std::unique_ptr<IoSlot>(slots.back());
    }
};

FakeSlot::~FakeSlot()
{
    ++windows_.slotsFreed;
    std::erase(windows_.slots, this);
}

IoState FakeSlot::startRead(Handle /*file*/, std::size_t /*bytes*/)
{
    reading = true;
    ++windows_.readsStarted;
    outcome = {IoState::Phase::Pending, 0, 0};
    return windows_.startError ? IoState{IoState::Phase::Failed, 0, windows_.startError} : outcome;
}

IoState FakeSlot::startWrite(Handle /*file*/, std::size_t bytes)
{
    if (windows_.startError)
        return {IoState::Phase::Failed, 0, windows_.startError};
    windows_.sent.append(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(bytes));
    outcome = {IoState::Phase::Pending, 0, 0};
    return outcome;
}

void FakeSlot::cancel(Handle /*file*/)
{
    if (windows_.cancelledOperationsEnd && outcome.phase == IoState::Phase::Pending)
        outcome = {IoState::Phase::Failed, 0, ErrorOperationAborted};
}

constexpr LineSettings Mark{38400, Parity::Mark, 8, 1};
constexpr LineSettings Space{38400, Parity::Space, 8, 1};
const std::string com3 = R"(\\.\COM3)";

constexpr IoState TimedOutOnWindows{IoState::Phase::Done, 0, 0};
constexpr IoState TimedOutOnWine{IoState::Phase::Failed, 0, ErrorTimeout};

IoState readDone(std::size_t bytes)
{
    return {IoState::Phase::Done, bytes, 0};
}

class WinLineTest : public ::testing::Test {
protected:
    WinLineTest()
    {
        line.setEvents({[this](std::string_view c) { received += c; }, [this] { ++goneReports; }});
    }

    void openMark() { ASSERT_TRUE(line.open(com3, "COM3", Mark)); }
    // The running read ends so; the loop sees its event.
    void endRead(IoState state, std::string_view data = {})
    {
        FakeSlot& reader = windows.reader();
        reader.end(state, data);
        loop.signal(reader.event());
    }

    ManualLoop loop;
    std::unique_ptr<FakeWindows> made = std::make_unique<FakeWindows>();
    FakeWindows& windows = *made; // owned by the line
    WinLine line{loop, std::move(made)};
    std::string received;
    int goneReports = 0;
};

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

TEST_F(WinLineTest, OpeningFailuresAndRefusedSettingsAreToldApartAndLeaveNothingOpen)
{
    const std::map<ErrorCode, int> expected{
        {ErrorAccessDenied, commPortHeld},
        {ErrorSharingViolation, commPortHeld},
        {ErrorFileNotFound, commNoSuchPort},
        {ErrorDeviceNotConnected, commNoSuchPort},
        {ErrorGenFailure, commIoError},
    };
    for (const auto& [error, number] : expected) {
        windows.openErrors[com3] = error;
        const CommResult result = line.open(com3, "COM3", Mark);
        EXPECT_EQ(result.number(), number) << error;
        EXPECT_FALSE(line.isOpen());
    }
    windows.openErrors[com3] = ErrorAccessDenied;
    EXPECT_NE(line.open(com3, "COM3", Mark).text().find("one program at a time"), std::string::npos);
    windows.openErrors[com3] = ErrorGenFailure;
    EXPECT_NE(line.open(com3, "COM3", Mark).text().find("ERROR_GEN_FAILURE (31)"), std::string::npos);

    // A driver that refuses the parity: the port is closed again.
    windows.openErrors.clear();
    windows.setStateError = ErrorInvalidParameter;
    const CommResult refused = line.open(com3, "COM3", Mark);
    EXPECT_EQ(refused.number(), commSettingsRejected);
    EXPECT_EQ(refused.refused(), "use the settings 38400,M,8,1");
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(windows.closes, 1);

    // One that did not keep the baud rate; but Wine on a pseudo-terminal
    // reads back a parity outside the defined ones, and that is no refusal.
    windows.setStateError = 0;
    CommState kept;
    kept.baudRate = 38461;
    windows.readBack = kept;
    EXPECT_EQ(line.open(com3, "COM3", Mark).refused(), "run at 38400 baud");
    kept.baudRate = 38400;
    kept.parity = static_cast<DcbParity>(200);
    windows.readBack = kept;
    EXPECT_TRUE(line.open(com3, "COM3", Mark));
}

TEST_F(WinLineTest, ADriverStillClosingThePortDelaysAReopeningButAnotherProgramsHoldDoesNot)
{
    // The page sender's reopening, refused a few times by a driver that is
    // still closing the port.
    openMark();
    line.close();
    windows.deniedOpenings = 3;
    EXPECT_TRUE(line.open(com3, "COM3", Space));
    line.close();

    // Refused for longer, it is held; and a port this line did not just
    // close is held at once.
    windows.deniedOpenings = 1000;
    const auto start = loop.now();
    EXPECT_EQ(line.open(com3, "COM3", Mark).number(), commPortHeld);
    EXPECT_GE(loop.now() - start, WinLine::ReopenPatience);
    const auto later = loop.now();
    EXPECT_EQ(line.open(com3, "COM3", Mark).number(), commPortHeld);
    EXPECT_EQ(loop.now(), later);
}

TEST_F(WinLineTest, TheDcbAndTimeOutsAreWhatTheBootLoaderNeeds)
{
    openMark();
    const CommState mark = windows.states.back();
    EXPECT_EQ(mark.baudRate, 38400u);
    EXPECT_EQ(mark.byteSize, 8);
    EXPECT_EQ(mark.parity, DcbParity::Mark);
    EXPECT_EQ(mark.stopBits, DcbStopBits::One);
    EXPECT_TRUE(mark.binary);
    // A byte with a wrong parity bit arrives as '?', and reading goes on.
    EXPECT_TRUE(mark.checkParity);
    EXPECT_TRUE(mark.replaceErrors);
    EXPECT_EQ(mark.errorChar, '?');
    EXPECT_FALSE(mark.abortOnError);
    EXPECT_FALSE(mark.discardNull);
    // No flow control; DTR on, RTS off.
    EXPECT_FALSE(mark.outxCtsFlow || mark.outxDsrFlow || mark.dsrSensitivity || mark.outX || mark.inX);
    EXPECT_EQ(mark.dtr, DtrControl::Enable);
    EXPECT_EQ(mark.rts, RtsControl::Disable);

    ASSERT_TRUE(line.configure(Space));
    EXPECT_EQ(windows.states.back().parity, DcbParity::Space);
    ASSERT_TRUE(line.configure({9600, Parity::None, 7, 2}));
    EXPECT_EQ(windows.states.back().stopBits, DcbStopBits::Two);
    EXPECT_EQ(windows.states.back().byteSize, 7);

    // Reads end soon after bytes stop, or after a bounded wait without any
    // (not MAXDWORD/MAXDWORD: pending for ever under Wine); writes have no
    // time-out.
    EXPECT_GT(windows.timeouts.readInterval, 0u);
    EXPECT_LE(windows.timeouts.readInterval, 5u);
    EXPECT_EQ(windows.timeouts.readTotalMultiplier, 0u);
    EXPECT_GT(windows.timeouts.readTotalConstant, 0u);
    EXPECT_LT(windows.timeouts.readTotalConstant, MaxDword);
    EXPECT_EQ(windows.timeouts.writeTotalMultiplier + windows.timeouts.writeTotalConstant, 0u);
    // Input from before the opening is thrown away; output of the last
    // opening that may still be on its way is not.
    EXPECT_EQ(windows.purges.front(), PurgeRxAbort | PurgeRxClear);
}

TEST_F(WinLineTest, BytesArriveFromTheLoopAndEveryEndingOfAReadStartsTheNext)
{
    openMark();
    EXPECT_EQ(windows.readsStarted, 1);
    windows.reader().end(readDone(4), std::string("\x01\0?\xff", 4));
    EXPECT_TRUE(received.empty()) << "reported from inside a call";
    loop.signal(windows.reader().event());
    EXPECT_EQ(received, std::string("\x01\0?\xff", 4));

    // No byte within the wait: Windows says success with none, Wine says
    // ERROR_TIMEOUT; Wine's may carry bytes.
    loop.advance(600ms);
    endRead(TimedOutOnWindows);
    loop.advance(600ms);
    endRead(TimedOutOnWine);
    loop.advance(600ms);
    endRead({IoState::Phase::Failed, 2, ErrorTimeout}, "AB");
    // A read aborted by a line error on a port that still answers.
    endRead({IoState::Phase::Failed, 0, ErrorOperationAborted});
    EXPECT_EQ(received, std::string("\x01\0?\xff", 4) + "AB");
    EXPECT_EQ(windows.readsStarted, 6);
    EXPECT_EQ(goneReports, 0);
    EXPECT_TRUE(line.isOpen());
}

TEST_F(WinLineTest, AnUnpluggedAdapterIsReportedOnceAndTheLineIsClosed)
{
    struct Unplug {
        IoState ending;
        ErrorCode clearCommError;
    };
    const Unplug unplugs[] = {
        {{IoState::Phase::Failed, 0, ErrorGenFailure}, 0},
        {{IoState::Phase::Failed, 0, ErrorBadCommand}, 0},
        {{IoState::Phase::Failed, 0, ErrorDeviceNotConnected}, 0},
        {{IoState::Phase::Failed, 0, ErrorAccessDenied}, 0},
        {{IoState::Phase::Failed, 0, ErrorBrokenPipe}, 0}, // Wine, the pty's master closed
        {{IoState::Phase::Failed, 0, ErrorOperationAborted}, ErrorBadCommand},
        {TimedOutOnWindows, ErrorGenFailure},
        {{IoState::Phase::Failed, 3, ErrorGenFailure}, 0},
    };
    for (const Unplug& unplug : unplugs) {
        SCOPED_TRACE(unplug.ending.error);
        openMark();
        goneReports = 0;
        received.clear();
        const int closes = windows.closes;
        const NativeHandle event = windows.reader().event();
        windows.status.error = unplug.clearCommError;
        endRead(unplug.ending, "abc");
        windows.status.error = 0;
        EXPECT_EQ(goneReports, 1);
        EXPECT_FALSE(line.isOpen());
        EXPECT_EQ(windows.closes, closes + 1);
        EXPECT_EQ(received, unplug.ending.bytes > 0 ? "abc" : "") << "bytes read before the loss are kept";
        EXPECT_FALSE(loop.watching(event));
        EXPECT_EQ(line.write(bytesOf("x")).number(), commNotOpen);
    }
}

TEST_F(WinLineTest, ReadsEndingAtOnceWithoutDataCountAsGoneButTimeOutsNever)
{
    openMark();
    for (int i = 0; i < 10; ++i) {
        loop.advance(std::chrono::milliseconds(WinLine::ReadWaitMs));
        endRead(TimedOutOnWine);
    }
    EXPECT_EQ(goneReports, 0);
    for (int i = 0; i < WinLine::QuickEmptyReadsLimit; ++i)
        endRead(TimedOutOnWindows);
    EXPECT_EQ(goneReports, 1);
    EXPECT_FALSE(line.isOpen());
}

TEST_F(WinLineTest, TheQueueCountsOwnDriverAndRunningWriteBytesInOrder)
{
    openMark();
    const auto start = loop.now();
    const std::string header("\0\0\x05", 3);
    const std::string frame(129, 'f');
    ASSERT_TRUE(line.write(bytesOf(header)));
    ASSERT_TRUE(line.write(bytesOf(frame)));
    // The header's write runs; the frame waits its turn.
    EXPECT_EQ(windows.sent, header);
    EXPECT_EQ(line.queued().bytes, 132u);

    // The communications control drains without the loop: queued() takes
    // the ended write and hands over the next.
    windows.writer().end({IoState::Phase::Done, 3, 0});
    EXPECT_EQ(line.queued().bytes, 129u);
    EXPECT_EQ(windows.sent, header + frame);
    // Bytes of ended writes still in the driver's queue.
    windows.status.outQueue = 200;
    EXPECT_EQ(line.queued().bytes, 200u);
    windows.status.outQueue = 0;
    // A write that ended short sends the rest.
    windows.writer().end({IoState::Phase::Done, 100, 0});
    EXPECT_EQ(line.queued().bytes, 29u);
    EXPECT_EQ(windows.sent, header + frame + frame.substr(100));
    windows.writer().end({IoState::Phase::Done, 29, 0});
    loop.signal(windows.writer().event());
    EXPECT_EQ(line.queued().bytes, 0u);
    EXPECT_FALSE(loop.watching(windows.writer().event())) << "a finished write's event stays signalled";
    // The wire is busy for the bytes' line time from when they were handed over.
    EXPECT_GE(line.wireClearAt() - start, lineTime(132, Mark));
}

TEST_F(WinLineTest, ACallThatFindsTheDeviceGoneSaysSoAndNothingIsReportedLater)
{
    openMark();
    windows.status.error = ErrorGenFailure;
    const SerialLine::Queue queue = line.queued();
    EXPECT_EQ(queue.status.number(), commDeviceGone);
    EXPECT_NE(queue.status.text().find("ERROR_GEN_FAILURE"), std::string::npos);
    EXPECT_FALSE(line.isOpen());

    windows.status.error = 0;
    openMark();
    windows.startError = ErrorDeviceNotConnected;
    EXPECT_EQ(line.write(bytesOf("x")).number(), commDeviceGone);
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(goneReports, 0);
}

TEST_F(WinLineTest, ClosingCancelsTheReadAndAReadThatNeverEndsKeepsItsBuffer)
{
    openMark();
    ASSERT_TRUE(line.write(bytesOf("abc")));
    line.discardOutput();
    EXPECT_EQ(windows.purges.back(), PurgeTxAbort | PurgeTxClear);
    EXPECT_EQ(line.queued().bytes, 0u);

    line.close();
    EXPECT_EQ(windows.reader().outcome.error, ErrorOperationAborted);
    EXPECT_EQ(windows.closes, 1);
    EXPECT_EQ(windows.slotsFreed, 0);

    // A driver that never ends a cancelled read: its slot is never freed,
    // and the next opening reads with a new one.
    openMark();
    FakeSlot* stuck = &windows.reader();
    windows.cancelledOperationsEnd = false;
    line.close();
    EXPECT_EQ(windows.closes, 2);
    openMark();
    EXPECT_NE(&windows.reader(), stuck);
    EXPECT_EQ(windows.slotsFreed, 0);
}

TEST(WindowsPortList, ComNumbersAreTheSystemsInOrderWithWhatTheDeviceManagerTells)
{
    const ComPortDirectory directory([] {
        return std::vector<std::string>{"COM20", "COM3", "com17", "LPT1", "COM20"};
    });
    EXPECT_EQ(directory.pathOf(10), "\\\\.\\COM10");
    EXPECT_EQ(directory.pathOf(0), "");
    EXPECT_EQ(directory.numbersAbove(16), (std::vector<int>{17, 20}));

    const std::vector<PortInfo> ports = windowsPortList({"COM10", "COM1", "COM3"},
        {
            {"COM3", "USB Serial Port (COM3)", "FTDI", "FTDIBUS\\COMPORT&VID_0403&PID_6001",
                "FTDIBUS\\VID_0403+A1\\0000"},
            {"COM10", "USB-SERIAL CH340 (COM10)", "wch.cn", "USB\\VID_1A86&PID_7523&REV_0264",
                "USB\\VID_1A86&PID_7523\\5&2F1A3C&0&2"},
            {"COM2", "Prolific (COM2)", "Prolific", "USB\\VID_067B&PID_2303", "USB\\VID_067B&PID_2303\\SN12"},
            {"LPT1", "Printer Port (LPT1)", "", "", ""},
        });
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].path, "\\\\.\\COM1");
    EXPECT_EQ(ports[0].description, "") << "a port the device manager does not know";
    EXPECT_EQ(ports[1].path, "\\\\.\\COM2");
    EXPECT_EQ(ports[1].serialNumber, "SN12");
    EXPECT_EQ(ports[2].vendorId, 0x0403);
    EXPECT_EQ(ports[2].productId, 0x6001);
    EXPECT_EQ(ports[2].serialNumber, "") << "not a USB instance id";
    EXPECT_EQ(ports[3].path, "\\\\.\\COM10");
    EXPECT_EQ(ports[3].com, 10) << "the system's own number, not the place in the list";
    EXPECT_EQ(ports[3].description, "USB-SERIAL CH340 (COM10)");
    EXPECT_EQ(ports[3].serialNumber, "") << "an instance id Windows made up";
    EXPECT_EQ(ports[3].vendorId, 0x1A86);
}
