// The device's page requests on their way from the wire to PageNumber and
// Timer1. Any byte stream, each byte with any parity bit, cut into
// notifications any way the timing allows (bytes bunch while the program is
// busy, or trickle in while the loop runs), reaches the request handler
// through the simulated component, with an image loaded and the port open.
//
// Checked at every notification, tick and step (see RequestWatch and
// WireWatch): the request handler follows the boot loader's rule exactly,
// taking every waiting character once four wait and leaving fewer with the
// component; every tick sends exactly the pending page; once the
// loop is idle, no notification is due. With a sound line the port stays
// open and no message shows.
#include "tests/fuzz/RequestPathInput.h"

#include <algorithm>
#include <array>

using namespace isp;
using namespace isp::fuzz;
using namespace isp::fuzz::request_path;
using namespace std::chrono_literals;

namespace {

// Bounds of one input: simulated time and steps.
constexpr Clock::Duration TimeBudget = 2s;
constexpr int StepLimit = 400;

constexpr std::array OtherEvents{comEvSend, comEvCTS, comEvDSR, comEvCD, comEvRing, comEvEOF, comEventBreak,
    comEventCTSTO, comEventDSRTO, comEventFrame, comEventOverrun, comEventCDTO, comEventRxOver, comEventRxParity,
    comEventTxFull, comEventDCB};

const ImageBytes& image()
{
    static const ImageBytes bytes = test::randomImage(0x1EAF);
    return bytes;
}

// What the inputs replayed so far reached; the replay wants every kind.
struct Milestones {
    std::uint64_t inputs = 0;
    std::uint64_t armed = 0;
    std::uint64_t armedWithParityErrors = 0;
    std::uint64_t outOfLimits = 0;
    std::uint64_t incomplete = 0;
    std::uint64_t fewerThanFourWaiting = 0;
    std::uint64_t moreThanFourWaiting = 0;
    std::uint64_t wrongParityBytes = 0;
    std::uint64_t otherEvents = 0;
    std::uint64_t pagesSent = 0;
} milestones;

class Run {
public:
    Run()
    {
        rig_.line.addPort(1);
        wire_.watchPort(1);
        wire_.setLoadedImage(&image());
        rig_.shell.Form1_Load();
        rig_.shell.setImageLoader([](const std::string&) {
            ImageLoadResult result;
            result.outcome = ImageLoadResult::Outcome::Loaded;
            result.bytes = image();
            result.length = ImageSize;
            return result;
        });
        rig_.form.chosenFiles.emplace_back("image.bin");
        rig_.shell.OpenFile_Click();
        rig_.shell.OpenUart_Click();
        device_ = rig_.line.device(1);
        start_ = rig_.scheduler.time();
        FUZZ_REQUIRE(state().PortOpenFlag == 1 && state().FileLoadedFlag == 1, "the rig did not start ready to upload");
    }

    void play(InputReader& in)
    {
        for (int n = 0; n < StepLimit && !in.done() && rig_.scheduler.time() - start_ < TimeBudget; ++n) {
            step(in);
            requireConsistentState(rig_);
            FUZZ_REQUIRE(state().PortOpenFlag == 1 && rig_.MSComm1.PortOpen() && rig_.form.messages.empty(),
                "the line is sound, yet the port was closed or a message shown");
        }
        const RequestWatch::Counts& counts = requests_.counts();
        milestones.armed += counts.armed;
        milestones.armedWithParityErrors += counts.armedWithParityErrors;
        milestones.outOfLimits += counts.outOfLimits;
        milestones.incomplete += counts.incomplete;
        milestones.fewerThanFourWaiting += counts.fewerThanFourWaiting;
        milestones.moreThanFourWaiting += counts.moreThanFourWaiting;
        milestones.otherEvents += counts.otherEvents;
        milestones.pagesSent += wire_.counts().pagesSent;
    }

private:
    const SharedState& state() const { return rig_.shell.state(); }

    void step(InputReader& in)
    {
        const auto which = static_cast<Step>(in.byte() % static_cast<int>(Step::Count));
        switch (which) {
        case Step::Send:
        case Step::SendSpace: {
            const std::size_t n = 1 + in.byte() % 8u;
            send(in.bytes(n), which == Step::Send);
            break;
        }
        case Step::SendMixed: {
            const std::size_t n = 1 + in.byte() % 8u;
            const std::uint8_t parityBits = in.byte();
            const std::vector<std::uint8_t> bytes = in.bytes(n);
            for (std::size_t i = 0; i < n; ++i)
                send({bytes[i]}, ((parityBits >> i) & 1u) != 0);
            break;
        }
        case Step::Request: {
            const std::uint8_t c0 = in.byte();
            const std::uint8_t c1 = in.byte();
            const int page = in.byte() % PageCount;
            const int split = in.byte();
            // Any c2 + c3 = page within the limits.
            const int lowest = std::max(0, page - MaxSecondAddend);
            const int highest = std::min(page, MaxFirstAddend);
            const int c2 = lowest + split % (highest - lowest + 1);
            send({c0, c1, static_cast<std::uint8_t>(c2), static_cast<std::uint8_t>(page - c2)}, true);
            break;
        }
        case Step::RunMicros: runLoop(rig_, std::chrono::microseconds(in.word())); break;
        case Step::RunMillis: runLoop(rig_, std::chrono::milliseconds(in.byte())); break;
        case Step::Busy: keepBusy(rig_, std::chrono::microseconds(in.word())); break;
        case Step::OtherEvent: {
            const int event = OtherEvents[in.byte() % OtherEvents.size()];
            trace(rig_.scheduler, [&] { return "the line reports event " + std::to_string(event); });
            rig_.port.injectNotification(event);
            break;
        }
        case Step::Count: break;
        }
    }

    void send(const std::vector<std::uint8_t>& bytes, bool parityBit)
    {
        trace(
            rig_.scheduler, [&] { return "device sends " + hex(bytes) + (parityBit ? " (parity 1)" : " (parity 0)"); });
        if (!parityBit)
            milestones.wrongParityBytes += bytes.size();
        requests_.deviceSends(1, bytes);
        device_->send(bytes, parityBit);
    }

    FuzzRig rig_;
    RequestWatch requests_{rig_};
    WireWatch wire_{rig_};
    DeviceEnd* device_ = nullptr;
    Clock::TimePoint start_{};
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
    std::printf("inputs %llu: %llu requests armed Timer1 (%llu with a parity error in c2 or c3), %llu out of limits, "
                "%llu notifications left a request incomplete; %llu notifications with fewer than 4 characters, "
                "%llu with more; %llu wrong-parity bytes, %llu other notifications, %llu pages sent\n",
        n(m.inputs), n(m.armed), n(m.armedWithParityErrors), n(m.outOfLimits), n(m.incomplete),
        n(m.fewerThanFourWaiting), n(m.moreThanFourWaiting), n(m.wrongParityBytes), n(m.otherEvents), n(m.pagesSent));
    return m.armed > 0 && m.armedWithParityErrors > 0 && m.outOfLimits > 0 && m.incomplete > 0
        && m.fewerThanFourWaiting > 0 && m.moreThanFourWaiting > 0 && m.wrongParityBytes > 0 && m.otherEvents > 0
        && m.pagesSent > 0;
}
