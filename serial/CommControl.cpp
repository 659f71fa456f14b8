#include "serial/CommControl.h"

#include "serial/WireSchedule.h"

#include <algorithm>

namespace isp {
namespace {

using namespace std::chrono_literals;

// Polling steps while a queue drains: about the line time of what is left,
// so a short tail costs little and a long one few looks.
constexpr Clock::Duration DrainStepMin = 100us;
constexpr Clock::Duration DrainStepMax = 2ms;

} // namespace

CommControl::CommControl(
    std::unique_ptr<SerialLine> line, PortDirectory& directory, EventLoop& loop, Clock::Duration burstGap)
    : line_(std::move(line)), directory_(directory), loop_(loop), clock_(loop.clock()), burstGap_(burstGap)
{
    line_->setEvents({
        [this](std::string_view characters) { onReceived(characters); },
        [this] { lost(); },
    });
}

CommControl::~CommControl()
{
    (void)close();
    line_->setEvents({});
    loop_.cancel(receivePosted_);
    loop_.cancel(gonePosted_);
}

CommResult CommControl::setCommPort(int n)
{
    if (n < 1)
        return {commNoSuchPort, "There is no COM" + std::to_string(n) + "; ports are numbered from 1."};
    if (line_->isOpen())
        return {commPortIsOpen, "The port number cannot change while " + portName() + " is open."};
    port_ = n;
    return CommResult::success();
}

CommResult CommControl::setSettings(std::string_view text)
{
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return {commBadSettings,
            "\"" + std::string(text)
                + "\" is not a settings string of the form baud,parity,data bits,stop bits "
                  "(for example 38400,M,8,1)."};
    if (!line_->isOpen()) {
        settings_ = *parsed;
        return CommResult::success();
    }
    // Bytes already queued leave with the settings they were queued under.
    CommResult drained;
    switch (drain()) {
    case Drain::Done: break;
    case Drain::DeviceGone: return deviceGone("before the new settings could be put in force");
    case Drain::Stalled:
        line_->discardOutput();
        drained = {commTransmitStalled,
            "The bytes queued for " + portName()
                + " did not leave in time and were discarded; the new settings are in force."};
        break;
    }
    CommResult applied = line_->configure(*parsed);
    if (!applied) {
        if (applied.number() == commDeviceGone)
            lost();
        return applied;
    }
    settings_ = *parsed;
    return drained;
}

CommResult CommControl::setPortOpen(bool open)
{
    return open ? this->open() : close();
}

CommResult CommControl::open()
{
    if (line_->isOpen())
        return CommResult::success();
    const std::string path = directory_.pathOf(port_);
    if (path.empty())
        return {commNoSuchPort, "There is no " + portName() + " on this system."};
    CommResult opened = line_->open(path, directory_.nameOf(port_), settings_);
    if (!opened)
        return opened;
    input_.clear();
    lastQueued_ = 0;
    return CommResult::success();
}

CommResult CommControl::close()
{
    if (!line_->isOpen())
        return CommResult::success();
    CommResult result;
    switch (drain()) {
    case Drain::Done: break;
    case Drain::DeviceGone: return deviceGone("before its last bytes were sent");
    case Drain::Stalled:
        line_->discardOutput();
        result = {commTransmitStalled,
            "The bytes queued for " + portName() + " did not leave in time and were discarded; the port is closed."};
        break;
    }
    line_->close();
    forgetOpening();
    return result;
}

CommControl::Drain CommControl::drain()
{
    SerialLine::Queue queue = lookAtQueue();
    while (queue.status && queue.bytes > 0) {
        if (clock_.now() - queueMovedAt_ >= StallLimit)
            return Drain::Stalled;
        clock_.doze(std::clamp(lineTime(queue.bytes, settings_), DrainStepMin, DrainStepMax));
        queue = lookAtQueue();
    }
    if (!queue.status)
        return Drain::DeviceGone;
    // The queue reads empty; on a real line the last bytes may still be in
    // the adapter.
    if (const auto clear = line_->wireClearAt(); clock_.now() < clear)
        clock_.sleepUntil(clear);
    return Drain::Done;
}

SerialLine::Queue CommControl::lookAtQueue()
{
    SerialLine::Queue queue = line_->queued();
    if (!queue.status)
        return queue;
    if (queue.bytes == 0 || queue.bytes < lastQueued_)
        queueMovedAt_ = clock_.now();
    lastQueued_ = queue.bytes;
    return queue;
}

CommResult CommControl::Output(std::span<const std::uint8_t> bytes)
{
    if (!line_->isOpen())
        return {commNotOpen, portName() + " is not open."};
    // A queue that was empty starts moving now; one already stuck stays so.
    if (lastQueued_ == 0)
        queueMovedAt_ = clock_.now();
    lastQueued_ += bytes.size();
    CommResult written = line_->write(bytes);
    if (!written && written.number() == commDeviceGone)
        return deviceGone("and the bytes were not sent");
    return written;
}

int CommControl::OutBufferCount()
{
    if (!line_->isOpen())
        return 0;
    const SerialLine::Queue queue = lookAtQueue();
    if (!queue.status) {
        (void)deviceGone({});
        return 0;
    }
    return static_cast<int>(queue.bytes);
}

std::string CommControl::Input()
{
    std::size_t count = input_.size();
    if (inputLen_ > 0)
        count = std::min(count, static_cast<std::size_t>(inputLen_));
    std::string taken = input_.substr(0, count);
    input_.erase(0, count);
    return taken;
}

void CommControl::requestLowLatency()
{
    if (line_->isOpen())
        line_->requestLowLatency();
}

void CommControl::onReceived(std::string_view characters)
{
    const Clock::TimePoint now = clock_.now();
    if (!input_.empty() && now - lastArrival_ > burstGap_) {
        if (onDropped_)
            onDropped_(input_);
        input_.clear();
    }
    input_.append(characters);
    lastArrival_ = now;
    if (rThreshold_ <= 0 || input_.size() < static_cast<std::size_t>(rThreshold_) || receivePosted_ != 0)
        return;
    receivePosted_ = loop_.post([this] {
        receivePosted_ = 0;
        // The count may have fallen since: a handler took the input, or the
        // port closed.
        if (line_->isOpen() && rThreshold_ > 0 && input_.size() >= static_cast<std::size_t>(rThreshold_))
            raiseOnComm(comEvReceive);
    });
}

void CommControl::lost()
{
    forgetOpening();
    if (gonePosted_ != 0)
        return;
    gonePosted_ = loop_.post([this] {
        gonePosted_ = 0;
        raiseOnComm(comEventDeviceGone);
    });
}

CommResult CommControl::deviceGone(const std::string& what)
{
    std::string text = "The device of " + portName() + " vanished";
    if (!what.empty())
        text += " " + what;
    lost();
    return {commDeviceGone, text + "."};
}

void CommControl::forgetOpening()
{
    input_.clear();
    lastQueued_ = 0;
    loop_.cancel(receivePosted_);
    receivePosted_ = 0;
}

std::string CommControl::portName() const
{
    return directory_.nameOf(port_);
}

} // namespace isp
