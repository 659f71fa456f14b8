#pragma once

#include "image/ImageFile.h"
#include "serial/CommControl.h"
#include "serial/ForwardingSerialComponent.h"
#include "tests/support/SimulatedRig.h"
#include "transfer/LoopTimer.h"
#include "transfer/Protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

// What both fuzz targets share: reading an input as a stream of small
// numbers, reporting a broken invariant as a crash the fuzzer keeps, the
// program on the simulated line with a tap on its component, the watch on
// the device's requests and the watch on the wire.
namespace isp::fuzz {

// A fuzz input read front to back; past its end every read gives 0, so any
// input, however short, decodes to some run.
class InputReader {
public:
    explicit InputReader(std::span<const std::uint8_t> data) : data_(data) {}

    bool done() const { return position_ >= data_.size(); }
    std::uint8_t byte() { return done() ? 0 : data_[position_++]; }
    // Little-endian, like InputWriter::word.
    std::uint16_t word()
    {
        const unsigned low = byte();
        const unsigned high = byte();
        return static_cast<std::uint16_t>(low | (high << 8));
    }
    std::vector<std::uint8_t> bytes(std::size_t count)
    {
        std::vector<std::uint8_t> out;
        out.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            out.push_back(byte());
        return out;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
};

// Writes inputs that InputReader reads back; the seed writer builds the
// committed corpus with it.
class InputWriter {
public:
    InputWriter& byte(int value)
    {
        data.push_back(static_cast<std::uint8_t>(value));
        return *this;
    }
    InputWriter& word(int value)
    {
        byte(value & 0xFF);
        return byte((value >> 8) & 0xFF);
    }
    InputWriter& bytes(const std::vector<std::uint8_t>& values)
    {
        data.insert(data.end(), values.begin(), values.end());
        return *this;
    }

    std::vector<std::uint8_t> data;
};

// The input being replayed, named in the report of a broken invariant.
inline std::string& currentInputName()
{
    static std::string name;
    return name;
}

[[noreturn]] inline void invariantBroken(const char* file, int line, const char* condition, const std::string& detail)
{
    std::fprintf(stderr, "\n*** invariant broken (%s:%d): %s\n    %s\n", file, line, condition, detail.c_str());
    if (!currentInputName().empty())
        std::fprintf(stderr, "    input: %s\n", currentInputName().c_str());
    std::fprintf(stderr, "    rerun it with ISP_FUZZ_TRACE=1 to see every step\n");
    std::fflush(stderr);
    std::abort();
}

// The detail is only built when the condition fails.
#define FUZZ_REQUIRE(condition, detail)                                                                                \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::isp::fuzz::invariantBroken(__FILE__, __LINE__, #condition, (detail));                                    \
    } while (false)

// With ISP_FUZZ_TRACE set, every step of a run is printed with its
// simulated time, so a failing input can be read as a story.
inline bool tracing()
{
    static const bool on = std::getenv("ISP_FUZZ_TRACE") != nullptr;
    return on;
}

template <typename Describe>
void trace(const SimulatedScheduler& scheduler, Describe describe)
{
    if (!tracing())
        return;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(scheduler.time().time_since_epoch()).count();
    std::fprintf(stderr, "%10.3f ms  %s\n", static_cast<double>(us) / 1000.0, std::string(describe()).c_str());
}

inline std::string hex(int value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

inline std::string hex(const std::vector<std::uint8_t>& values)
{
    std::string out;
    for (const auto value : values)
        out += (out.empty() ? "" : " ") + hex(value);
    return out;
}

// The simulated port as the program sees it, through a tap: every operation
// is passed on, and the characters Input() hands over are kept, so that the
// watch on the requests knows exactly what reached the request handler.
class TappedComponent {
public:
    explicit TappedComponent(SerialComponent& port) : forward_(port)
    {
        forward_.setInputObserver([this](const std::string& taken) { handedOver_ += taken; });
    }
    SerialComponent& component() { return forward_; }

    // The characters handed over since the last call.
    std::string takeHandedOver() { return std::exchange(handedOver_, std::string()); }

private:
    ForwardingSerialComponent forward_;
    std::string handedOver_;
};

// The whole program on the simulated line, like test::SimulatedRig, with the
// tap between the component and the program.
struct FuzzRig {
    SimulatedScheduler scheduler;
    SimulatedLine line{scheduler};
    SimulatedPortDirectory ports;
    CommControl control{std::make_unique<SimulatedSerialLine>(line), ports, scheduler};
    test::RecordingSerialComponent port{control, scheduler};
    TappedComponent tap{port};
    SerialComponent& MSComm1 = tap.component();
    LoopTimer Timer1{scheduler};
    test::ScriptedForm1 form{[this](Clock::Duration d) { scheduler.runFor(d); }};
    Shell shell{MSComm1, Timer1, form, scheduler};

    // Runs the loop until nothing is due: a tick holds the loop for a whole
    // page, and what fell due meanwhile is handled right after it.
    void catchUp()
    {
        for (Clock::TimePoint before{}; before != scheduler.time();) {
            before = scheduler.time();
            scheduler.runFor(Clock::Duration::zero());
        }
    }
};

// Flags are 0 or 1, PageNumber names a page or is idle, the caption says
// what PortOpenFlag says, and when the user has not got the port open the
// component has it closed too.
inline void requireConsistentState(FuzzRig& rig)
{
    const SharedState& state = rig.shell.state();
    FUZZ_REQUIRE(state.PortOpenFlag <= 1, "PortOpenFlag " + std::to_string(state.PortOpenFlag));
    FUZZ_REQUIRE(state.FileLoadedFlag <= 1, "FileLoadedFlag " + std::to_string(state.FileLoadedFlag));
    FUZZ_REQUIRE(state.PageNumber < PageCount || state.PageNumber == IdlePage,
        "PageNumber " + std::to_string(state.PageNumber) + " is neither a page nor idle");
    const std::string expectedCaption = state.PortOpenFlag == 1 ? "Uart:open" : "Uart:close";
    FUZZ_REQUIRE(rig.form.caption == expectedCaption,
        "caption \"" + rig.form.caption + "\" with PortOpenFlag " + std::to_string(state.PortOpenFlag));
    FUZZ_REQUIRE(state.PortOpenFlag == 1 || !rig.MSComm1.PortOpen(),
        "the component holds COM" + std::to_string(rig.MSComm1.CommPort()) + " open while the user has it closed");
}

// Once the loop is idle: the port the user has open is open in the
// component (a port that went away has been reported and shown closed), and
// no request is left unanswered: fewer characters wait than make a
// notification, or than make a request (the handler leaves those waiting).
inline void requireSettledLine(FuzzRig& rig)
{
    const SharedState& state = rig.shell.state();
    FUZZ_REQUIRE(state.PortOpenFlag == 0 || (rig.MSComm1.PortOpen() && rig.MSComm1.CommPort() == state.PortNumber),
        "the user has COM" + std::to_string(state.PortNumber) + " open, but the component "
            + (rig.MSComm1.PortOpen() ? "has COM" + std::to_string(rig.MSComm1.CommPort()) + " open" : "is closed"));
    if (rig.MSComm1.PortOpen())
        FUZZ_REQUIRE(rig.MSComm1.InBufferCount() < std::max(rig.MSComm1.RThreshold(), RequestLength),
            std::to_string(rig.MSComm1.InBufferCount()) + " characters wait with the loop idle, RThreshold "
                + std::to_string(rig.MSComm1.RThreshold()));
}

// The event loop runs for a while; afterwards the line must be settled.
inline void runLoop(FuzzRig& rig, Clock::Duration duration)
{
    trace(rig.scheduler, [&] {
        return "loop runs " + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(duration).count())
            + " us";
    });
    rig.scheduler.runFor(duration);
    rig.catchUp();
    requireSettledLine(rig);
}

// The program is busy (the loop does not run) while the line moves on.
inline void keepBusy(FuzzRig& rig, std::chrono::microseconds duration)
{
    trace(rig.scheduler, [&] { return "program busy " + std::to_string(duration.count()) + " us"; });
    rig.scheduler.sleepFor(duration);
}

// Wraps the component's notifications and checks the request handler
// against the boot loader's rule: a notification with four or more
// characters waiting takes them all, c0 c1 c2 c3 being the request; it arms
// Timer1 for 20 ms with PageNumber c2 + c3 when c2 <= 112 and c3 <= 111 and
// otherwise changes nothing; whatever follows the request is dropped. With
// fewer than four waiting it takes nothing and changes nothing: the
// component keeps them for the rest of the request. Also: every character
// taken is one the device sent or '?', in order; other notifications arm
// nothing; a lost device is reported once and the port shown closed.
class RequestWatch {
public:
    explicit RequestWatch(FuzzRig& rig) : rig_(rig)
    {
        rig_.MSComm1.setOnComm([this] { notification(); });
    }
    RequestWatch(const RequestWatch&) = delete;
    RequestWatch& operator=(const RequestWatch&) = delete;

    // The device on COMn sends bytes; call before DeviceEnd::send.
    void deviceSends(int n, const std::vector<std::uint8_t>& bytes)
    {
        auto& sent = sentBy_[n];
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }

    struct Counts {
        std::uint64_t armed = 0;
        std::uint64_t armedWithParityErrors = 0; // '?' as c2 or c3
        std::uint64_t outOfLimits = 0;           // completed, ignored
        std::uint64_t incomplete = 0;            // fewer than four so far
        std::uint64_t fewerThanFourWaiting = 0;
        std::uint64_t moreThanFourWaiting = 0;
        std::uint64_t otherEvents = 0;
        std::uint64_t devicesGone = 0;
    };
    const Counts& counts() const { return counts_; }

private:
    struct Timer1State {
        bool armed;
        Clock::TimePoint armedAt;
        bool operator==(const Timer1State&) const = default;
    };
    Timer1State timer() const { return {rig_.Timer1.armed(), rig_.Timer1.armedAt()}; }

    void notification()
    {
        const int event = rig_.MSComm1.CommEvent();
        const int waiting = rig_.MSComm1.InBufferCount();
        const int port = rig_.MSComm1.CommPort();
        const std::uint8_t pageBefore = rig_.shell.state().PageNumber;
        const std::uint8_t flagBefore = rig_.shell.state().PortOpenFlag;
        const std::size_t messagesBefore = rig_.form.messages.size();
        const Timer1State timerBefore = timer();

        rig_.shell.MSComm1_OnComm();

        const std::string handed = rig_.tap.takeHandedOver();
        const std::uint8_t page = rig_.shell.state().PageNumber;
        const bool untouched = page == pageBefore && timer() == timerBefore;
        trace(rig_.scheduler, [&] {
            return "notification " + std::to_string(event) + ", handler took \""
                + hex(std::vector<std::uint8_t>(handed.begin(), handed.end())) + "\", PageNumber "
                + std::to_string(page) + (untouched ? "" : ", Timer1 armed");
        });
        requireConsistentState(rig_);

        if (event == comEventDeviceGone) {
            // The message runs the loop, and a tick may come meanwhile: only
            // PageNumber must stay as it was.
            FUZZ_REQUIRE(
                handed.empty() && page == pageBefore, "the loss of the device changed PageNumber or took characters");
            if (flagBefore == 1)
                FUZZ_REQUIRE(rig_.shell.state().PortOpenFlag == 0 && rig_.form.messages.size() == messagesBefore + 1,
                    "the device went away under the open port, and the user was not told exactly once");
            else
                FUZZ_REQUIRE(rig_.form.messages.size() == messagesBefore,
                    "a message for a device lost while the port was closed");
            ++counts_.devicesGone;
            return;
        }
        if (event != comEvReceive) {
            FUZZ_REQUIRE(handed.empty() && untouched,
                "notification " + std::to_string(event) + " is no receive, yet it took characters or armed Timer1");
            ++counts_.otherEvents;
            return;
        }

        if (waiting < RequestLength) {
            FUZZ_REQUIRE(handed.empty() && untouched && rig_.MSComm1.InBufferCount() == waiting,
                "with " + std::to_string(waiting) + " characters waiting the handler took \"" + printable(handed)
                    + "\" or armed Timer1");
            ++counts_.fewerThanFourWaiting;
            ++counts_.incomplete;
            return;
        }
        FUZZ_REQUIRE(static_cast<int>(handed.size()) == waiting && rig_.MSComm1.InBufferCount() == 0,
            "the handler took " + std::to_string(handed.size()) + " of " + std::to_string(waiting)
                + " waiting characters");
        requireSentInOrder(port, handed);
        if (waiting > RequestLength)
            ++counts_.moreThanFourWaiting;

        const int c2 = static_cast<unsigned char>(handed[2]);
        const int c3 = static_cast<unsigned char>(handed[3]);
        const std::string request = handed.substr(0, RequestLength);
        if (c2 > MaxFirstAddend || c3 > MaxSecondAddend) {
            FUZZ_REQUIRE(untouched,
                "request \"" + printable(request) + "\" is out of limits, yet PageNumber became "
                    + std::to_string(page));
            ++counts_.outOfLimits;
            return;
        }
        FUZZ_REQUIRE(page == c2 + c3 && rig_.Timer1.armed() && rig_.Timer1.armedAt() == rig_.scheduler.time()
                && rig_.Timer1.Interval() == RequestToPageDelay.count(),
            "request \"" + printable(request) + "\" names page " + std::to_string(c2 + c3) + ", but PageNumber is "
                + std::to_string(page) + (rig_.Timer1.armed() ? "" : ", Timer1 not armed"));
        ++counts_.armed;
        if (c2 == '?' || c3 == '?')
            ++counts_.armedWithParityErrors;
    }

    // Each character is a byte the device on that port sent, or '?' for
    // one, in the order sent; bytes may be missing (lost while the port was
    // closed or reopened), never invented or reordered.
    void requireSentInOrder(int port, const std::string& handed)
    {
        auto& sent = sentBy_[port];
        for (const char c : handed) {
            const auto value = static_cast<std::uint8_t>(c);
            while (!sent.empty() && sent.front() != value && c != '?')
                sent.pop_front();
            FUZZ_REQUIRE(!sent.empty(),
                "character " + hex(value) + " reached the handler, but the device on COM" + std::to_string(port)
                    + " did not send it (then)");
            sent.pop_front();
        }
    }

    static std::string printable(const std::string& characters)
    {
        return hex(std::vector<std::uint8_t>(characters.begin(), characters.end()));
    }

    FuzzRig& rig_;
    std::map<int, std::deque<std::uint8_t>> sentBy_;
    Counts counts_;
};

// Watches the far end of every port and wraps Timer1's tick: the program
// sends only from a tick, and a tick sends the pending page as a
// space-parity header 00 00 p and a mark-parity frame of the image's page p
// and its checksum, or a prefix of that when the line fails, in which case
// the user is told and the port is closed.
class WireWatch {
public:
    explicit WireWatch(FuzzRig& rig) : rig_(rig)
    {
        rig_.Timer1.setOnTick([this] { tick(); });
        rig_.form.onMessageShown = [this](const std::string& text) {
            trace(rig_.scheduler, [&] { return "message \"" + text + "\""; });
        };
    }
    WireWatch(const WireWatch&) = delete;
    WireWatch& operator=(const WireWatch&) = delete;

    // Listens to the device on COMn, which must exist.
    void watchPort(int n)
    {
        rig_.line.device(n)->setOnByte([this, n](const WireByte& byte) { onByte(n, byte); });
    }

    // The image the user loaded last, which every page must come from;
    // nullptr while none was loaded.
    void setLoadedImage(const ImageBytes* image) { image_ = image; }

    struct Counts {
        std::uint64_t pagesSent = 0;    // whole page out, bar moved, idle again
        std::uint64_t ticksFailed = 0;  // line failed during the page; user told
        std::uint64_t cutShort = 0;     // of those, some bytes had left already
        std::uint64_t ticksNothing = 0; // nothing due: port closed, no image or no page
    };
    const Counts& counts() const { return counts_; }

private:
    struct Sent {
        int port;
        WireByte byte;
    };
    struct Before {
        std::uint8_t portOpen;
        std::uint8_t fileLoaded;
        std::uint8_t page;
        std::uint8_t portNumber;
        std::size_t messages;
        std::size_t progressSteps;
        const ImageBytes* image;
    };

    void onByte(int port, const WireByte& byte)
    {
        FUZZ_REQUIRE(!sent_.empty(),
            "byte " + hex(byte.value) + " left on COM" + std::to_string(port) + " outside a tick of Timer1");
        sent_.back().push_back({port, byte});
    }

    void tick()
    {
        const SharedState& state = rig_.shell.state();
        const Before before{state.PortOpenFlag, state.FileLoadedFlag, state.PageNumber, state.PortNumber,
            rig_.form.messages.size(), rig_.form.progressHistory.size(), image_};
        trace(rig_.scheduler, [&] { return "tick, PageNumber " + std::to_string(before.page); });
        sent_.emplace_back();
        rig_.shell.Timer1_Timer();
        const std::vector<Sent> sent = std::move(sent_.back());
        sent_.pop_back();
        check(before, sent);
        requireConsistentState(rig_);
    }

    void check(const Before& before, const std::vector<Sent>& sent)
    {
        const SharedState& state = rig_.shell.state();
        const bool due = before.portOpen == 1 && before.fileLoaded == 1 && before.page < PageCount;
        FUZZ_REQUIRE(!rig_.Timer1.Enabled(), "Timer1 still runs after its tick; it would send the page again");
        if (!due) {
            FUZZ_REQUIRE(sent.empty(),
                std::to_string(sent.size()) + " bytes left with PortOpenFlag " + std::to_string(before.portOpen)
                    + ", FileLoadedFlag " + std::to_string(before.fileLoaded) + ", PageNumber "
                    + std::to_string(before.page));
            FUZZ_REQUIRE(state.PageNumber == before.page, "a tick with nothing to send changed PageNumber");
            FUZZ_REQUIRE(rig_.form.messages.size() == before.messages, "a tick with nothing to send showed a message");
            ++counts_.ticksNothing;
            return;
        }

        FUZZ_REQUIRE(before.image != nullptr, "FileLoadedFlag is 1 but the user has no good image loaded");
        const int page = before.page;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const Sent& s = sent[i];
            FUZZ_REQUIRE(s.port == before.portNumber,
                "page bytes went to COM" + std::to_string(s.port) + ", the user opened COM"
                    + std::to_string(before.portNumber));
            FUZZ_REQUIRE(i < 3 + PageSize + 1, "more than 3 + 129 bytes for one page");
            const bool header = i < 3;
            const int expected = header ? (i == 2 ? page : 0) : frameByte(*before.image, page, i - 3);
            FUZZ_REQUIRE(s.byte.value == expected,
                "byte " + std::to_string(i) + " of page " + std::to_string(page) + " is " + hex(s.byte.value)
                    + ", should be " + hex(expected));
            FUZZ_REQUIRE(s.byte.parityBit == !header,
                std::string(header ? "header" : "frame") + " byte " + std::to_string(i) + " of page "
                    + std::to_string(page) + " left with parity bit " + (s.byte.parityBit ? "1" : "0"));
        }

        if (rig_.form.messages.size() == before.messages) {
            FUZZ_REQUIRE(sent.size() == 3 + PageSize + 1,
                "page " + std::to_string(page) + ": only " + std::to_string(sent.size())
                    + " bytes left and the user was not told");
            FUZZ_REQUIRE(state.PageNumber == IdlePage, "PageNumber not idle after page " + std::to_string(page));
            FUZZ_REQUIRE(
                rig_.form.progressHistory.size() == before.progressSteps + 1 && rig_.form.progressValue == page,
                "the bar does not show page " + std::to_string(page) + " as sent");
            FUZZ_REQUIRE(state.PortOpenFlag == 1 && rig_.MSComm1.PortOpen(),
                "the port is not open after page " + std::to_string(page) + " went out");
            ++counts_.pagesSent;
            trace(rig_.scheduler, [&] { return "page " + std::to_string(page) + " went out"; });
        } else {
            FUZZ_REQUIRE(state.PortOpenFlag == 0 && !rig_.MSComm1.PortOpen(),
                "the line failed during page " + std::to_string(page) + " but the port was left open");
            FUZZ_REQUIRE(rig_.form.progressHistory.size() == before.progressSteps,
                "the bar moved for page " + std::to_string(page) + ", which did not go out");
            ++counts_.ticksFailed;
            trace(rig_.scheduler, [&] {
                return "page " + std::to_string(page) + " failed after " + std::to_string(sent.size()) + " bytes";
            });
            if (!sent.empty())
                ++counts_.cutShort;
        }
    }

    // Byte k of the frame of page p: the page's 128 bytes, then their sum.
    static int frameByte(const ImageBytes& image, int page, std::size_t k)
    {
        const auto begin = image.begin() + static_cast<std::ptrdiff_t>(page) * PageSize;
        if (k < static_cast<std::size_t>(PageSize))
            return begin[static_cast<std::ptrdiff_t>(k)];
        unsigned sum = 0;
        for (int i = 0; i < PageSize; ++i)
            sum += begin[i];
        return static_cast<int>(sum & 0xFFu);
    }

    FuzzRig& rig_;
    const ImageBytes* image_ = nullptr;
    // Bytes of each tick in progress, innermost last.
    std::vector<std::vector<Sent>> sent_;
    Counts counts_;
};

// Each target reports, after a replay of its corpus, whether the corpus
// reached the situations that give its invariants something to check.
bool replaySummary();

} // namespace isp::fuzz
