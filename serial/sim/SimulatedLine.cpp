#include "serial/sim/SimulatedLine.h"

#include <charconv>

namespace isp {
namespace {

// The device's UART runs the boot loader's line: 38400 baud, 11 bits a byte.
constexpr LineSettings DeviceLine{38400, Parity::Mark, 8, 1};

Clock::Duration byteTime(const LineSettings& settings)
{
    return Clock::Duration(static_cast<std::int64_t>(settings.bitsPerByte()) * 1'000'000'000LL / settings.baud);
}

bool isMarkOrSpace(const LineSettings& settings)
{
    return settings.parity == Parity::Mark || settings.parity == Parity::Space;
}

// n of "sim:COMn", or 0.
int portOf(const std::string& device)
{
    constexpr std::string_view Prefix = "sim:COM";
    if (!device.starts_with(Prefix))
        return 0;
    int n = 0;
    const char* first = device.data() + Prefix.size();
    const char* last = device.data() + device.size();
    const auto [end, error] = std::from_chars(first, last, n);
    return error == std::errc() && end == last ? n : 0;
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

void SimulatedLine::plugAdapter(int n, const UsbAdapter& adapter)
{
    Port& port = ports_.at(n);
    if (port.adapter)
        scheduler_.cancel(port.adapter->passOn);
    port.adapter = AdapterChip{adapter, false, scheduler_.time(), {}, 0};
}

void SimulatedLine::vanish(int n)
{
    Port& port = ports_.at(n);
    port.present = false;
    if (port.adapter) {
        scheduler_.cancel(port.adapter->passOn);
        port.adapter = AdapterChip{port.adapter->model, false, {}, {}, 0};
    }
    if (attached_ && attached_->openPort_ == n)
        attached_->lost();
}

void SimulatedLine::reappear(int n)
{
    Port& port = ports_.at(n);
    port.present = true;
    // Plugged in again: the chip starts with its own timer.
    if (port.adapter)
        port.adapter->timerStart = scheduler_.time();
}

bool SimulatedLine::runsLowLatency(int n) const
{
    const auto found = ports_.find(n);
    return found != ports_.end() && found->second.adapter && found->second.adapter->lowLatency;
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
    if (!exists(n))
        return;
    if (auto& adapter = ports_.at(n).adapter)
        holdInAdapter(n, *adapter, value, parityBit);
    else
        passToProgram(n, value, parityBit);
}

void SimulatedLine::passToProgram(int n, std::uint8_t value, bool parityBit)
{
    // A port that is closed meanwhile never sees it: the driver throws away
    // what arrives for a closed port.
    if (attached_ && attached_->openPort_ == n)
        attached_->receive(value, parityBit);
}

// --- a USB adapter's chip ---------------------------------------------------

void SimulatedLine::holdInAdapter(int n, AdapterChip& chip, std::uint8_t value, bool parityBit)
{
    chip.heldInput.push_back({value, parityBit, scheduler_.time()});
    if (chip.passOn == 0)
        schedulePassOn(n, chip);
}

void SimulatedLine::schedulePassOn(int n, AdapterChip& chip)
{
    const Clock::Duration period = chip.lowLatency ? chip.model.lowLatencyTimer : chip.model.latencyTimer;
    // The timer has run out every period since it started; what the chip
    // holds goes with the next time it runs out.
    const auto periodsPassed = (scheduler_.time() - chip.timerStart) / period;
    const Clock::TimePoint runsOut = chip.timerStart + (periodsPassed + 1) * period;
    chip.passOn = scheduler_.atLine(runsOut, [this, n] { passHeldOn(n); });
}

void SimulatedLine::passHeldOn(int n)
{
    AdapterChip& chip = *ports_.at(n).adapter;
    chip.passOn = 0;
    const std::vector<WireByte> held = std::move(chip.heldInput);
    chip.heldInput.clear();
    for (const WireByte& byte : held)
        passToProgram(n, byte.value, byte.parityBit);
}

void SimulatedLine::emptyAdapter(int n)
{
    if (auto& adapter = ports_.at(n).adapter) {
        scheduler_.cancel(adapter->passOn);
        adapter->passOn = 0;
        adapter->heldInput.clear();
    }
}

void SimulatedLine::switchToLowLatency(int n)
{
    ++lowLatencyRequests_;
    auto& adapter = ports_.at(n).adapter;
    if (!adapter || !adapter->model.driverOffersLowLatency || adapter->lowLatency)
        return;
    // The driver writes the new timer to the chip, which starts it afresh.
    adapter->lowLatency = true;
    adapter->timerStart = scheduler_.time();
    if (adapter->passOn != 0) {
        scheduler_.cancel(adapter->passOn);
        schedulePassOn(n, *adapter);
    }
}

// --- the program's line -----------------------------------------------------

SimulatedSerialLine::SimulatedSerialLine(SimulatedLine& line) : line_(line), scheduler_(line.scheduler()) {}

SimulatedSerialLine::~SimulatedSerialLine()
{
    close();
    scheduler_.cancel(goneReport_);
}

CommResult SimulatedSerialLine::open(const std::string& device, const std::string& name, const LineSettings& settings)
{
    if (open_)
        return {};
    const int n = portOf(device);
    const auto found = line_.ports_.find(n);
    if (found == line_.ports_.end() || !found->second.present)
        return {commNoSuchPort, name + " is not present."};
    const auto& port = found->second;
    if (port.held)
        return {commPortHeld, "another program holds " + name};
    if (port.denied)
        return {commNoPermission, "no permission to open " + name};
    if (isMarkOrSpace(settings) && port.rejectsMarkSpace)
        return {commSettingsRejected, "the adapter of " + name + " cannot send mark or space parity",
            "send mark and space parity"};
    open_ = true;
    ++line_.openings_;
    openPort_ = n;
    settings_ = settings;
    arrived_.clear();
    // ftdi_sio resets the chip at every opening, which empties it.
    line_.emptyAdapter(n);
    line_.attached_ = this;
    return {};
}

void SimulatedSerialLine::close()
{
    if (!open_)
        return;
    discardOutput();
    open_ = false;
    arrived_.clear();
    scheduler_.cancel(handOver_);
    handOver_ = 0;
    if (line_.attached_ == this)
        line_.attached_ = nullptr;
}

CommResult SimulatedSerialLine::configure(const LineSettings& settings)
{
    if (!open_)
        return {commNotOpen, "the port is not open"};
    if (isMarkOrSpace(settings) && line_.ports_.at(openPort_).rejectsMarkSpace)
        return {commSettingsRejected, "the adapter cannot send mark or space parity", "send mark and space parity"};
    settings_ = settings;
    return {};
}

CommResult SimulatedSerialLine::write(std::span<const std::uint8_t> bytes)
{
    if (!open_)
        return {commNotOpen, "the port is not open"};
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    if (!byteOnWire_)
        startNextByte();
    return {};
}

void SimulatedSerialLine::discardOutput()
{
    line_.discarded_ += output_.size();
    output_.clear();
    scheduler_.cancel(wireTask_);
    byteOnWire_ = false;
}

void SimulatedSerialLine::requestLowLatency()
{
    if (open_)
        line_.switchToLowLatency(openPort_);
}

void SimulatedSerialLine::startNextByte()
{
    DeviceEnd* device = line_.device(openPort_);
    if (!open_ || output_.empty() || byteOnWire_ || (device && device->stalled_))
        return;
    byteOnWire_ = true;
    // The parity bit is fixed when the byte starts on the wire.
    const bool parityBit = parityBitFor(settings_.parity, output_.front());
    wireTask_ = scheduler_.atLine(scheduler_.time() + byteTime(settings_), [this, parityBit] {
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

void SimulatedSerialLine::receive(std::uint8_t value, bool parityBit)
{
    const bool expected = parityBitFor(settings_.parity, value);
    const bool checked = settings_.parity != Parity::None;
    arrived_.push_back(checked && parityBit != expected ? '?' : static_cast<char>(value));
    // Like a driver's read-ready wake-up: handed over when the loop runs.
    if (handOver_ == 0)
        handOver_ = scheduler_.post([this] {
            handOver_ = 0;
            const std::string characters = std::move(arrived_);
            arrived_.clear();
            reportReceived(characters);
        });
}

void SimulatedSerialLine::lost()
{
    close();
    goneReport_ = scheduler_.post([this] {
        goneReport_ = 0;
        reportGone();
    });
}

} // namespace isp
