#include "serial/sim/SimulatedLine.h"

namespace isp {
namespace {

// The device's UART runs the boot loader's line: 38400 baud, 11 bits a byte.
constexpr LineSettings DeviceLine{38400, Parity::Mark, 8, 1};

Clock::Duration byteTime(const LineSettings& settings)
{
    return Clock::Duration(static_cast<std::int64_t>(settings.bitsPerByte()) * 1'000'000'000LL / settings.baud);
}

} // namespace

// --- the device's end -------------------------------------------------------

void DeviceEnd::send(const std::vector<std::uint8_t>& bytes, bool parityBit)
{
    for (const std::uint8_t value : bytes) {
        const Clock::TimePoint start = std::max(scheduler_->time(), sendFreeAt_);
        sendFreeAt_ = start + byteTime(DeviceLine);
        SimulatedLine* line = line_;
        const int port = port_;
        scheduler_->atLine(
            sendFreeAt_, [line, port, value, parityBit] { line->deliverToProgram(port, value, parityBit); });
    }
}

void DeviceEnd::stallTransmit(bool stalled)
{
    stalled_ = stalled;
    if (!stalled && line_->attached_ && line_->attached_->openPort_ == port_)
        line_->attached_->startNextByte();
}

// --- the system's ports -----------------------------------------------------

DeviceEnd& SimulatedLine::addPort(int n)
{
    Port& port = ports_[n];
    if (!port.device) {
        port.device = std::make_unique<DeviceEnd>();
        port.device->scheduler_ = &scheduler_;
        port.device->line_ = this;
        port.device->port_ = n;
    }
    port.present = true;
    return *port.device;
}

void SimulatedLine::setHeldByOtherProgram(int n, bool held)
{
    ports_.at(n).held = held;
}
void SimulatedLine::setPermissionDenied(int n, bool denied)
{
    ports_.at(n).denied = denied;
}
void SimulatedLine::setRejectsMarkSpace(int n, bool rejects)
{
    ports_.at(n).rejectsMarkSpace = rejects;
}

void SimulatedLine::vanish(int n)
{
    ports_.at(n).present = false;
    if (attached_ && attached_->open_ && attached_->openPort_ == n)
        attached_->lost();
}

void SimulatedLine::reappear(int n)
{
    ports_.at(n).present = true;
}

bool SimulatedLine::exists(int n) const
{
    const auto found = ports_.find(n);
    return found != ports_.end() && found->second.present;
}

DeviceEnd* SimulatedLine::device(int n)
{
    const auto found = ports_.find(n);
    return found == ports_.end() ? nullptr : found->second.device.get();
}

void SimulatedLine::deliverToProgram(int n, std::uint8_t value, bool parityBit)
{
    if (exists(n) && attached_ && attached_->open_ && attached_->openPort_ == n)
        attached_->receive(value, parityBit);
}

// --- the program's component ------------------------------------------------

SimulatedSerialPort::SimulatedSerialPort(SimulatedLine& line) : line_(line), scheduler_(line.scheduler()) {}

SimulatedSerialPort::~SimulatedSerialPort()
{
    *alive_ = false;
    if (line_.attached_ == this)
        line_.attached_ = nullptr;
}

void SimulatedSerialPort::record(const char* what, int value)
{
    operations_.push_back(std::string(what) + '=' + std::to_string(value));
}

void SimulatedSerialPort::record(const char* what, const std::string& value)
{
    operations_.push_back(std::string(what) + '=' + value);
}

CommResult SimulatedSerialPort::setCommPort(int n)
{
    record("CommPort", n);
    if (open_)
        return CommResult(commPortIsOpen, "the port number cannot change while the port is open");
    if (n < 1)
        return CommResult(commNoSuchPort, "there is no COM" + std::to_string(n));
    commPort_ = n;
    return {};
}

CommResult SimulatedSerialPort::setSettings(std::string_view settings)
{
    record("Settings", std::string(settings));
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return CommResult(commBadSettings, "the line settings are not understood");
    if (open_) {
        const bool markSpace = parsed->parity == Parity::Mark || parsed->parity == Parity::Space;
        if (markSpace && line_.ports_.at(openPort_).rejectsMarkSpace)
            return CommResult(commSettingsRejected, "the adapter cannot send mark or space parity");
        drain();
    }
    settings_ = *parsed;
    return {};
}

CommResult SimulatedSerialPort::setPortOpen(bool open)
{
    record("PortOpen", open ? "true" : "false");
    if (!open) {
        if (!open_)
            return {};
        drain();
        open_ = false;
        input_.clear();
        line_.attached_ = nullptr;
        return {};
    }
    if (open_)
        return {};
    const auto found = line_.ports_.find(commPort_);
    if (found == line_.ports_.end() || !found->second.present)
        return CommResult(commNoSuchPort, "there is no COM" + std::to_string(commPort_));
    const auto& port = found->second;
    if (port.held)
        return CommResult(commPortHeld, "another program holds COM" + std::to_string(commPort_));
    if (port.denied)
        return CommResult(commNoPermission, "no permission to open COM" + std::to_string(commPort_));
    const bool markSpace = settings_.parity == Parity::Mark || settings_.parity == Parity::Space;
    if (markSpace && port.rejectsMarkSpace)
        return CommResult(commSettingsRejected, "the adapter cannot send mark or space parity");
    open_ = true;
    openPort_ = commPort_;
    input_.clear();
    line_.attached_ = this;
    return {};
}

CommResult SimulatedSerialPort::Output(std::span<const std::uint8_t> bytes)
{
    record("Output", std::to_string(bytes.size()) + " bytes");
    if (!open_)
        return CommResult(commNotOpen, "the port is not open");
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    if (!byteOnWire_)
        startNextByte();
    return {};
}

int SimulatedSerialPort::OutBufferCount()
{
    return static_cast<int>(output_.size());
}

std::string SimulatedSerialPort::Input()
{
    const std::size_t take =
        inputLen_ > 0 ? std::min<std::size_t>(static_cast<std::size_t>(inputLen_), input_.size()) : input_.size();
    std::string taken = input_.substr(0, take);
    input_.erase(0, take);
    return taken;
}

std::string SimulatedSerialPort::portLocation(int n) const
{
    return line_.exists(n) ? "sim:COM" + std::to_string(n) : std::string();
}

void SimulatedSerialPort::startNextByte()
{
    DeviceEnd* device = line_.device(openPort_);
    if (!open_ || output_.empty() || byteOnWire_ || (device && device->stalled_))
        return;
    byteOnWire_ = true;
    // The parity bit is fixed when the byte starts on the wire.
    const bool parityBit = parityBitFor(settings_.parity, output_.front());
    std::weak_ptr<bool> alive = alive_;
    wireTask_ = scheduler_.atLine(scheduler_.time() + byteTime(settings_), [this, alive, parityBit] {
        if (alive.expired())
            return;
        byteOnWire_ = false;
        if (output_.empty())
            return;
        const WireByte sent{output_.front(), parityBit, scheduler_.time()};
        output_.pop_front();
        if (DeviceEnd* far = line_.device(openPort_); far && far->onByte_)
            far->onByte_(sent);
        startNextByte();
    });
}

void SimulatedSerialPort::drain()
{
    // Closing or changing the line never cuts a queued byte: wait until the
    // queue has left, unless it is stuck, then throw it away.
    const Clock::TimePoint limit = scheduler_.time() + DrainLimit;
    while (!output_.empty() && scheduler_.time() < limit)
        scheduler_.sleepFor(byteTime(settings_));
    if (!output_.empty()) {
        discarded_ += output_.size();
        output_.clear();
        scheduler_.cancel(wireTask_);
        byteOnWire_ = false;
    }
}

void SimulatedSerialPort::receive(std::uint8_t value, bool parityBit)
{
    const bool expected = parityBitFor(settings_.parity, value);
    const bool checked = settings_.parity != Parity::None;
    input_.push_back(checked && parityBit != expected ? '?' : static_cast<char>(value));
    if (rThreshold_ > 0 && input_.size() >= static_cast<std::size_t>(rThreshold_) && !receivePending_)
        postNotification(comEvReceive);
}

void SimulatedSerialPort::lost()
{
    discarded_ += output_.size();
    output_.clear();
    scheduler_.cancel(wireTask_);
    byteOnWire_ = false;
    open_ = false;
    input_.clear();
    line_.attached_ = nullptr;
    postNotification(comEventDeviceGone);
}

void SimulatedSerialPort::postNotification(int event)
{
    if (event == comEvReceive)
        receivePending_ = true;
    std::weak_ptr<bool> alive = alive_;
    scheduler_.postLoop(scheduler_.time(), [this, alive, event] {
        if (alive.expired())
            return;
        if (event == comEvReceive) {
            receivePending_ = false;
            if (!open_ || rThreshold_ <= 0 || input_.size() < static_cast<std::size_t>(rThreshold_))
                return;
            ++receiveNotifications_;
        }
        raiseOnComm(event);
    });
}

} // namespace isp
