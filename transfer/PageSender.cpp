#include "transfer/PageSender.h"

#include "serial/WireSchedule.h"
#include "transfer/PageFrame.h"
#include "transfer/PortOpening.h"
#include "transfer/Protocol.h"

#include <algorithm>

namespace isp {
namespace {

using namespace std::chrono_literals;

// While a burst is on the wire the sender sleeps until shortly before the
// queued bytes' line time is over, then looks again: it notices the end of
// the burst within a few tenths of a millisecond, and the processor is free
// meanwhile (a frame is on a 38400-baud wire for 34 ms).
constexpr Clock::Duration BurstEndMargin = 200us;
constexpr Clock::Duration QueuePollStep = 100us;

} // namespace

PageSender::PageSender(SharedState& state, SerialComponent& comm, Timer& timer, ProgressDisplay& progress, Clock& clock)
    : state_(state), comm_(comm), timer_(timer), progress_(progress), clock_(clock)
{
}

PageSender::Result PageSender::Timer1_Timer()
{
    // One tick per request: the request handler arms the timer again.
    timer_.setInterval(0);
    timer_.setEnabled(false);

    if (state_.PortOpenFlag != 1 || state_.FileLoadedFlag != 1 || state_.PageNumber >= PageCount)
        return {};

    const std::uint8_t page = state_.PageNumber;
    const PageHeader header = makePageHeader(page);
    if (CommResult r = reopenWith(SpaceSettings); !r)
        return fail(page, std::move(r));
    if (CommResult r = sendBurst(header); !r)
        return fail(page, std::move(r));

    // Read from the image now: a file loaded meanwhile goes out from the
    // next page on.
    const PageFrame frame = makePageFrame(state_.ImageBuffer, page);
    if (CommResult r = reopenWith(MarkSettings); !r)
        return fail(page, std::move(r));
    if (CommResult r = sendBurst(frame); !r)
        return fail(page, std::move(r));

    clock_.sleepFor(AfterPagePause);
    // A device that vanished while the frame was on its way has not got it.
    if (!comm_.PortOpen())
        return fail(page, CommResult(commDeviceGone, "the device went away while a page was sent"));

    progress_.setProgressValue(page);
    state_.PageNumber = IdlePage;
    return {Result::Outcome::Sent, page, {}};
}

CommResult PageSender::reopenWith(const char* settings)
{
    // Closing waits until every queued byte has left with the old parity.
    if (comm_.PortOpen()) {
        if (CommResult r = comm_.setPortOpen(false); !r)
            return r;
    }
    return openForBootLoader(comm_, state_.PortNumber, settings, RequestLength);
}

CommResult PageSender::sendBurst(std::span<const std::uint8_t> bytes)
{
    const LineSettings line = LineSettings::parse(comm_.Settings()).value_or(LineSettings{});
    if (CommResult r = comm_.Output(bytes); !r)
        return r;
    // Deliberately no event is handled: the device's next request waits in
    // the event queue until the whole page is out. The limit only catches a
    // stuck line.
    const Clock::TimePoint deadline = clock_.now() + TransmitWaitLimit;
    for (int queued = comm_.OutBufferCount(); queued > 0; queued = comm_.OutBufferCount()) {
        if (clock_.now() > deadline)
            return CommResult(commTransmitStalled, "the bytes of a page did not leave the port in time");
        clock_.doze(std::max(lineTime(static_cast<std::size_t>(queued), line) - BurstEndMargin, QueuePollStep));
    }
    if (!comm_.PortOpen())
        return CommResult(commDeviceGone, "the device went away while a page was sent");
    return {};
}

PageSender::Result PageSender::fail(int page, CommResult failure)
{
    // Stop here and leave the port closed; the front end tells the user.
    (void)comm_.setPortOpen(false);
    return {Result::Outcome::Failed, page, std::move(failure)};
}

} // namespace isp
