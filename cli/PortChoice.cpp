#include "cli/PortChoice.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace isp::cli {
namespace {

bool startsWithCom(std::string_view name)
{
    return name.size() >= 3 && std::equal(name.begin(), name.begin() + 3, "COM", [](char c, char upper) {
        return std::toupper(static_cast<unsigned char>(c)) == upper;
    });
}

std::string listHint()
{
    return "velmora-isp2-cli list shows the ports there are";
}

Failure refusal(ExitStatus status, std::string message, std::string advice)
{
    return {status, std::move(message), std::move(advice), 0, 0};
}

// A PORT that is something else; most often the two arguments swapped.
Failure notAPort(const std::string& argument, PathKind kind, bool swapped, bool windows)
{
    std::string what;
    switch (kind) {
    case PathKind::RegularFile: what = "is a file, not a serial port"; break;
    case PathKind::Folder: what = "is a folder, not a serial port"; break;
    case PathKind::OtherDevice: what = "is a device, but not a serial port"; break;
    case PathKind::Missing: what = "is no COM port name: Windows names its ports COM1 to COM4096"; break;
    default: what = "is not a serial port"; break;
    }
    std::string advice = windows ? "Name the COM port as Device Manager shows it, for example COM3; " + listHint() + "."
                                 : "Name the serial port: a device such as /dev/ttyUSB0, a link in /dev/serial/by-id/, "
                                   "or COMn; "
            + listHint() + ".";
    if (swapped)
        advice = "The port and the image look swapped: name the port first, then the image (velmora-isp2-cli upload "
                 "PORT IMAGE).";
    return refusal(ExitStatus::Usage, "PORT " + argument + " " + what, std::move(advice));
}

bool looksLikeAPort(const std::string& name, const PortSystem& system)
{
    if (comNumberOf(name) || name.rfind(WindowsDevicePrefix, 0) == 0 || name.rfind("/dev/", 0) == 0)
        return true;
    return !system.comNamesAreTheSystems && system.inspect(name) == PathKind::SerialDevice;
}

std::optional<int> windowNumberOf(const std::string& device, const std::vector<PortInfo>& ports)
{
    for (const PortInfo& port : ports) {
        if (port.path == device && port.com > 0)
            return port.com;
    }
    return std::nullopt;
}

// A path, its links followed, and the window's COMn of the device if it
// lists it: "/dev/serial/by-id/usb-FTDI_... (/dev/ttyUSB0, COM2)".
PortFacts followed(const std::string& argument, const PortSystem& system)
{
    PortFacts facts;
    facts.argument = argument;
    facts.device = system.follow(argument);
    facts.com = windowNumberOf(facts.device, system.ports);
    std::vector<std::string> aside;
    if (facts.device != argument)
        aside.push_back(facts.device);
    if (facts.com)
        aside.push_back("COM" + std::to_string(*facts.com));
    facts.description = argument;
    for (std::size_t i = 0; i < aside.size(); ++i)
        facts.description += (i == 0 ? " (" : ", ") + aside[i];
    if (!aside.empty())
        facts.description += ")";
    return facts;
}

PortChoice chosen(const PortFacts& facts, std::function<PortFacts()> follow, const PortSystem& system)
{
    auto present = [inspect = system.inspect](
                       const std::string& device) { return inspect(device) == PathKind::SerialDevice; };
    return {std::make_unique<ChosenPort>(facts, std::move(follow), std::move(present)), {}};
}

PortChoice refused(Failure failure)
{
    return {nullptr, std::move(failure)};
}

} // namespace

std::optional<int> comNumberOf(std::string_view name)
{
    if (name.substr(0, WindowsDevicePrefix.size()) == WindowsDevicePrefix)
        name.remove_prefix(WindowsDevicePrefix.size());
    if (!name.empty() && name.back() == ':')
        name.remove_suffix(1);
    if (name.size() < 4 || !startsWithCom(name) || name[3] == '0')
        return std::nullopt;
    int n = 0;
    const char* end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data() + 3, end, n);
    if (error != std::errc() || stop != end || n < 1 || n > MaxComNumber)
        return std::nullopt;
    return n;
}

ChosenPort::ChosenPort(
    PortFacts facts, std::function<PortFacts()> follow, std::function<bool(const std::string&)> present)
    : facts_(std::move(facts)), follow_(std::move(follow)), present_(std::move(present))
{
}

void ChosenPort::refresh()
{
    if (follow_)
        facts_ = follow_();
}

PortChoice choosePort(const std::string& argument, const std::string& image, const PortSystem& system)
{
    const bool windows = system.comNamesAreTheSystems;
    PortFacts facts;
    facts.argument = argument;
    if (const auto n = comNumberOf(argument)) {
        facts.com = *n;
        if (windows) {
            // "\\.\": the prefix makes COM10 and above open.
            facts.device = std::string(WindowsDevicePrefix) + "COM" + std::to_string(*n);
            facts.description = "COM" + std::to_string(*n);
            return chosen(facts, {}, system);
        }
        const auto listed = std::find_if(
            system.ports.begin(), system.ports.end(), [&](const PortInfo& port) { return port.com == *n; });
        if (listed == system.ports.end()) {
            const std::string count = system.ports.empty() ? "none"
                : system.ports.size() == 1
                ? "one, COM1"
                : std::to_string(system.ports.size()) + ", COM1 to COM" + std::to_string(system.ports.size());
            return refused(
                refusal(ExitStatus::PortMissing, argument + " names no serial port of this system, which has " + count,
                    "Plug the adapter in, or name another port; " + listHint() + "."));
        }
        facts.device = listed->path;
        facts.description = argument + " (" + facts.device + ")";
        return chosen(facts, {}, system);
    }
    // A name that starts like a COM port but is none ("COM0", "COM03") is
    // one mistyped, not a file of that name.
    if (startsWithCom(argument) && argument.find_first_of("/\\") == std::string::npos)
        return refused(refusal(ExitStatus::Usage,
            "PORT " + argument + " is no COM port name: ports are COM1, COM2, ... without leading zeros",
            "Name the port as " + listHint() + "."));
    if (windows && argument.rfind(WindowsDevicePrefix, 0) == 0) {
        facts.device = argument;
        facts.description = argument;
        return chosen(facts, {}, system);
    }
    const PathKind kind = system.inspect(argument);
    if (windows || (kind != PathKind::SerialDevice && kind != PathKind::Missing))
        return refused(notAPort(argument, kind, looksLikeAPort(image, system), windows));
    return chosen(
        followed(argument, system), [argument, system] { return followed(argument, system); }, system);
}

} // namespace isp::cli
