// The whole program as the user and the device drive it at once: port picks,
// clicks on "Uart:close"/"Uart:open", images good, short or unreadable,
// messages read fast or slowly, the device's requests whole, split, bunched
// or with parity errors, and the line stalling, vanishing, reappearing or
// being taken by another program, at any moment, also in the middle of a
// page. Three ports; the far end of each is watched byte by byte.
//
// Checked at every tick (see WireWatch), notification (see RequestWatch)
// and step:
// - a byte leaves only from a tick that began with the port opened by the
//   user and a good image loaded, and only towards the port the user opened;
// - a tick sends 00 00 p with parity bit 0, then page p of the image the
//   user loaded last and its checksum with parity bit 1: all of it, after
//   which the bar shows p and PageNumber is idle; or, when the line fails,
//   a prefix of it, after which the user is told and the port is closed;
// - the request handler follows the boot loader's rule exactly, across
//   ports, openings, closings and losses of the device;
// - flags are 0 or 1, PageNumber is a page or idle, the caption matches
//   PortOpenFlag, and with PortOpenFlag 0 the component's port is closed;
//   once the loop is idle, with PortOpenFlag 1 it is open (a lost port has
//   been reported);
// - FileLoadedFlag is 1 exactly while a good image is loaded (a short file
//   unloads it, an unreadable or cancelled one changes nothing), and the
//   image buffer then holds that image;
// - a click on the open port closes it; a click on the closed port opens it
//   (on the picked port) or says why not; a pick is taken only while closed.
#include "tests/fuzz/StateMachineInput.h"

#include <algorithm>
#include <array>

using namespace isp;
using namespace isp::fuzz;
using namespace isp::fuzz::state_machine;
using namespace std::chrono_literals;

namespace {

// Bounds of one input: simulated time and steps.
constexpr Clock::Duration TimeBudget = 8s;
constexpr int StepLimit = 200;
constexpr int Ports = 3;

const std::array<ImageBytes, 3>& goodImages()
{
    static const std::array<ImageBytes, 3> images = [] {
        std::array<ImageBytes, 3> made{test::randomImage(101), test::randomImage(202), {}};
        made[2].fill(0xFF); // an erased device's flash: every checksum 0x80
        return made;
    }();
    return images;
}

// What the inputs replayed so far reached; the replay wants every kind.
struct Milestones {
    std::uint64_t inputs = 0;
    std::uint64_t pagesSent = 0;
    std::uint64_t ticksFailed = 0;
    std::uint64_t cutShort = 0;
    std::uint64_t ticksNothing = 0;
    std::uint64_t goodLoads = 0;
    std::uint64_t wrongLengthLoads = 0;
    std::uint64_t unreadableLoads = 0;
    std::uint64_t picksTaken = 0;
    std::uint64_t picksIgnored = 0;
    std::uint64_t opened = 0;
    std::uint64_t openFailed = 0;
    std::uint64_t closed = 0;
    std::uint64_t faultsLater = 0;
    std::uint64_t requestsArmed = 0;
    std::uint64_t devicesGone = 0;
} milestones;

class Run {
public:
    Run()
    {
        for (int n = 1; n <= Ports; ++n) {
            rig_.line.addPort(n);
            watch_.watchPort(n);
        }
        rig_.shell.setImageLoader([this](const std::string& path) { return load(path); });
        start_ = rig_.scheduler.time();
    }

    void play(InputReader& in)
    {
        const std::uint8_t setup = in.byte();
        if (setup & Com3Absent)
            rig_.line.vanish(3);
        if (setup & Com2Held)
            rig_.line.setHeldByOtherProgram(2, true);
        if (setup & Com1RejectsMarkSpace)
            rig_.line.setRejectsMarkSpace(1, true);
        if (setup & Com1Absent)
            rig_.line.vanish(1);
        rig_.shell.Form1_Load();
        requireConsistentState(rig_);

        for (int n = 0; n < StepLimit && !in.done() && rig_.scheduler.time() - start_ < TimeBudget; ++n) {
            step(in);
            requireConsistentState(rig_);
            requireImageAsLoaded();
        }
        const WireWatch::Counts& counts = watch_.counts();
        milestones.pagesSent += counts.pagesSent;
        milestones.ticksFailed += counts.ticksFailed;
        milestones.cutShort += counts.cutShort;
        milestones.ticksNothing += counts.ticksNothing;
        milestones.requestsArmed += requests_.counts().armed;
        milestones.devicesGone += requests_.counts().devicesGone;
    }

private:
    SharedState& state() { return rig_.shell.state(); }

    // Every port argument names one of the three ports.
    static int port(InputReader& in) { return 1 + in.byte() % Ports; }

    ImageLoadResult load(const std::string& path)
    {
        ImageLoadResult result;
        if (path.rfind("good-", 0) == 0) {
            const auto& image = goodImages().at(static_cast<std::size_t>(path[5] - '0'));
            result.outcome = ImageLoadResult::Outcome::Loaded;
            result.bytes = image;
            result.length = ImageSize;
            loaded_ = &image;
        } else if (path == "short.bin") {
            result.outcome = ImageLoadResult::Outcome::WrongLength;
            result.length = ImageSize - 1;
        } else {
            result.outcome = ImageLoadResult::Outcome::Unreadable;
            result.reason = "permission denied";
        }
        return result;
    }

    void openFile(const std::string& path)
    {
        trace(rig_.scheduler, [&] { return "user opens file \"" + path + "\""; });
        if (!path.empty())
            rig_.form.chosenFiles.push_back(path);
        const std::uint8_t loadedBefore = state().FileLoadedFlag;
        const std::size_t messagesBefore = rig_.form.messages.size();
        rig_.shell.OpenFile_Click();
        rig_.form.chosenFiles.clear();

        if (path.rfind("good-", 0) == 0) {
            FUZZ_REQUIRE(state().FileLoadedFlag == 1, "a good image was opened but FileLoadedFlag is 0");
            watch_.setLoadedImage(loaded_);
            ++milestones.goodLoads;
        } else if (path == "short.bin") {
            FUZZ_REQUIRE(state().FileLoadedFlag == 0 && rig_.form.messages.size() > messagesBefore,
                "a file of the wrong length left FileLoadedFlag " + std::to_string(state().FileLoadedFlag)
                    + " or showed no message");
            loaded_ = nullptr;
            watch_.setLoadedImage(nullptr);
            ++milestones.wrongLengthLoads;
        } else {
            FUZZ_REQUIRE(state().FileLoadedFlag == loadedBefore,
                "an unreadable or cancelled file changed FileLoadedFlag to " + std::to_string(state().FileLoadedFlag));
            FUZZ_REQUIRE(
                path.empty() || rig_.form.messages.size() > messagesBefore, "an unreadable file showed no message");
            if (!path.empty())
                ++milestones.unreadableLoads;
        }
    }

    void requireImageAsLoaded()
    {
        const bool loaded = state().FileLoadedFlag == 1;
        FUZZ_REQUIRE(loaded == (loaded_ != nullptr),
            std::string("FileLoadedFlag ") + (loaded ? "1" : "0") + " but the user " + (loaded_ ? "has" : "has not")
                + " a good image loaded");
        if (loaded)
            FUZZ_REQUIRE(std::equal(loaded_->begin(), loaded_->end(), state().ImageBuffer.begin()),
                "the image buffer differs from the image loaded last");
    }

    void pickPort(InputReader& in)
    {
        const std::uint8_t entry = in.byte();
        if (rig_.form.entries.empty())
            return;
        const std::string text = rig_.form.entries[entry % rig_.form.entries.size()].text;
        trace(rig_.scheduler, [&] { return "user picks " + text; });
        const std::uint8_t before = state().PortNumber;
        const bool wasOpen = state().PortOpenFlag == 1;
        // Only a change of the box's text is a pick; the entry it already
        // shows changes nothing, even where an earlier pick was ignored.
        const bool changes = rig_.form.portText() != text;
        rig_.form.pickPort(text);
        const int picked = std::stoi(text.substr(3));
        if (wasOpen || !changes) {
            FUZZ_REQUIRE(state().PortNumber == before && state().PortOpenFlag == (wasOpen ? 1 : 0),
                "picking " + text + " with COM" + std::to_string(before) + (wasOpen ? " open" : " shown already")
                    + " was not ignored");
            if (wasOpen && changes)
                ++milestones.picksIgnored;
        } else {
            FUZZ_REQUIRE(state().PortNumber == picked,
                "picking " + text + " left PortNumber " + std::to_string(state().PortNumber));
            if (picked != before)
                ++milestones.picksTaken;
        }
    }

    void openUart()
    {
        const bool wasOpen = state().PortOpenFlag == 1;
        const std::size_t messagesBefore = rig_.form.messages.size();
        trace(rig_.scheduler, [&] { return std::string("user clicks ") + rig_.form.caption; });
        rig_.shell.OpenUart_Click();
        const bool told = rig_.form.messages.size() > messagesBefore;
        if (wasOpen) {
            FUZZ_REQUIRE(state().PortOpenFlag == 0 && !rig_.MSComm1.PortOpen() && !told,
                "a click on the open port did not simply close it");
            ++milestones.closed;
        } else if (state().PortOpenFlag == 1) {
            FUZZ_REQUIRE(rig_.MSComm1.PortOpen() && rig_.MSComm1.CommPort() == state().PortNumber && !told,
                "the port shows open but COM" + std::to_string(state().PortNumber) + " is not");
            FUZZ_REQUIRE(rig_.MSComm1.Settings() == MarkSettings, "the port opened with " + rig_.MSComm1.Settings());
            ++milestones.opened;
        } else {
            FUZZ_REQUIRE(told, "opening COM" + std::to_string(state().PortNumber) + " failed without a message");
            ++milestones.openFailed;
        }
    }

    void request(InputReader& in)
    {
        const int n = port(in);
        const int page = in.byte() % PageCount;
        const int split = in.byte();
        const std::uint8_t form = in.byte();
        const int tune = form >> 5;
        int c2 = 0;
        int c3 = 0;
        switch (form & 3) {
        case FirstAddendTooLarge:
            c2 = MaxFirstAddend + 1 + page % (256 - MaxFirstAddend - 1);
            c3 = split % (MaxSecondAddend + 1);
            break;
        case SecondAddendTooLarge:
            c2 = split % (MaxFirstAddend + 1);
            c3 = MaxSecondAddend + 1 + page % (256 - MaxSecondAddend - 1);
            break;
        default: {
            const int lowest = std::max(0, page - MaxSecondAddend);
            const int highest = std::min(page, MaxFirstAddend);
            c2 = lowest + split % (highest - lowest + 1);
            c3 = page - c2;
        }
        }
        const std::vector<std::uint8_t> bytes{0x50, 0x47, static_cast<std::uint8_t>(c2), static_cast<std::uint8_t>(c3)};
        std::uint8_t parityMask = 0x0F;
        if (form & ParityError)
            parityMask = static_cast<std::uint8_t>(parityMask & ~(1u << (tune % 4)));
        const std::size_t cut = (form & Split) ? static_cast<std::size_t>(1 + tune % 3) : bytes.size();

        send(n, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)}, parityMask);
        if (cut < bytes.size()) {
            rig_.scheduler.runFor(std::chrono::milliseconds(1 + tune));
            send(n, {bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end()},
                static_cast<std::uint8_t>(parityMask >> cut));
        }
        if ((form & Bunched) && rig_.scheduler.time() < rig_.line.device(n)->sendsArriveBy())
            rig_.scheduler.sleepFor(rig_.line.device(n)->sendsArriveBy() - rig_.scheduler.time());
    }

    // Bit i of the mask is the parity bit of byte i.
    void send(int n, const std::vector<std::uint8_t>& bytes, std::uint8_t parityMask)
    {
        trace(rig_.scheduler, [&] {
            return "device on COM" + std::to_string(n) + " sends " + hex(bytes) + ", parity mask " + hex(parityMask);
        });
        DeviceEnd* device = rig_.line.device(n);
        requests_.deviceSends(n, bytes);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            device->send({bytes[i]}, ((parityMask >> i) & 1u) != 0);
    }

    // Runs a line fault now, or schedules it on the line's own time so that
    // it can strike in the middle of a page.
    template <typename Fault>
    void fault(const std::string& what, std::uint16_t delayUs, Fault apply)
    {
        if (delayUs == 0) {
            trace(rig_.scheduler, [&] { return what; });
            apply();
            return;
        }
        trace(rig_.scheduler, [&] { return what + " in " + std::to_string(delayUs) + " us"; });
        ++milestones.faultsLater;
        rig_.scheduler.atLine(rig_.scheduler.time() + std::chrono::microseconds(delayUs), [this, what, apply] {
            trace(rig_.scheduler, [&] { return what + " (as scheduled)"; });
            apply();
        });
    }

    void step(InputReader& in)
    {
        SimulatedLine& line = rig_.line;
        const auto which = static_cast<Step>(in.byte() % static_cast<int>(Step::Count));
        switch (which) {
        case Step::PickPort: pickPort(in); break;
        case Step::OpenUart: openUart(); break;
        case Step::LoadGood: openFile("good-" + std::to_string(in.byte() % goodImages().size())); break;
        case Step::LoadWrongLength: openFile("short.bin"); break;
        case Step::LoadUnreadable: openFile("locked.bin"); break;
        case Step::LoadCancelled: openFile(""); break;
        case Step::Exit:
            trace(rig_.scheduler, [] { return "user clicks exit (ignored)"; });
            rig_.shell.ExitCommand_Click();
            break;
        case Step::Request: request(in); break;
        case Step::Raw: {
            const int n = port(in);
            const std::size_t count = 1 + in.byte() % 8u;
            const std::uint8_t parityMask = in.byte();
            send(n, in.bytes(count), parityMask);
            break;
        }
        case Step::RunMillis: runLoop(rig_, std::chrono::milliseconds(2 * in.byte())); break;
        case Step::RunMicros: runLoop(rig_, std::chrono::microseconds(in.word())); break;
        case Step::Busy: keepBusy(rig_, std::chrono::microseconds(in.word())); break;
        case Step::ReadingTime: rig_.form.messageReadingTime = std::chrono::milliseconds(10 * in.byte()); break;
        case Step::Stall: {
            const int n = port(in);
            const bool on = (in.byte() & 1u) != 0;
            fault(std::string(on ? "stall" : "unstall") + " COM" + std::to_string(n), in.word(),
                [&line, n, on] { line.device(n)->stallTransmit(on); });
            break;
        }
        case Step::Vanish: {
            const int n = port(in);
            fault("COM" + std::to_string(n) + " vanishes", in.word(), [&line, n] { line.vanish(n); });
            break;
        }
        case Step::Reappear: {
            const int n = port(in);
            fault("COM" + std::to_string(n) + " reappears", in.word(), [&line, n] { line.reappear(n); });
            break;
        }
        case Step::Held: {
            const int n = port(in);
            const bool on = (in.byte() & 1u) != 0;
            fault("COM" + std::to_string(n) + (on ? " taken by" : " released by") + " another program", in.word(),
                [&line, n, on] { line.setHeldByOtherProgram(n, on); });
            break;
        }
        case Step::Denied: {
            const int n = port(in);
            const bool on = (in.byte() & 1u) != 0;
            fault("COM" + std::to_string(n) + (on ? " denied" : " allowed"), 0,
                [&line, n, on] { line.setPermissionDenied(n, on); });
            break;
        }
        case Step::RejectsMarkSpace: {
            const int n = port(in);
            const bool on = (in.byte() & 1u) != 0;
            fault("COM" + std::to_string(n) + (on ? " loses" : " gains") + " mark and space parity", 0,
                [&line, n, on] { line.setRejectsMarkSpace(n, on); });
            break;
        }
        case Step::Count: break;
        }
    }

    FuzzRig rig_;
    RequestWatch requests_{rig_};
    WireWatch watch_{rig_};
    Clock::TimePoint start_{};
    const ImageBytes* loaded_ = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    InputReader in({data, size});
    Run run;
    run.play(in);
    ++milestones.inputs;
    return 0;
}

bool isp::fuzz::replaySummary()
{
    const Milestones& m = milestones;
    const auto n = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
    std::printf("inputs %llu: %llu pages sent, %llu ticks failed (%llu cut a page short), %llu ticks with nothing "
                "to send; loads %llu good, %llu short, %llu unreadable; picks %llu taken, %llu ignored; "
                "%llu opened, %llu failed to open, %llu closed; %llu faults struck later; %llu requests armed Timer1, "
                "%llu devices lost\n",
        n(m.inputs), n(m.pagesSent), n(m.ticksFailed), n(m.cutShort), n(m.ticksNothing), n(m.goodLoads),
        n(m.wrongLengthLoads), n(m.unreadableLoads), n(m.picksTaken), n(m.picksIgnored), n(m.opened), n(m.openFailed),
        n(m.closed), n(m.faultsLater), n(m.requestsArmed), n(m.devicesGone));
    return m.pagesSent > 0 && m.ticksFailed > 0 && m.cutShort > 0 && m.ticksNothing > 0 && m.goodLoads > 0
        && m.wrongLengthLoads > 0 && m.unreadableLoads > 0 && m.picksTaken > 0 && m.picksIgnored > 0 && m.opened > 0
        && m.openFailed > 0 && m.closed > 0 && m.faultsLater > 0 && m.requestsArmed > 0 && m.devicesGone > 0;
}
