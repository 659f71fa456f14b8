#include "cli/PortChoice.h"

#include "serial/Platform.h"

#include <charconv>
#include <filesystem>

namespace isp::cli {
namespace {

// n of "COMn" or "comn"; none for anything else.
std::optional<int> comNumber(const std::string& argument)
{
    if (argument.size() < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(argument[i])) != "COM"[i])
            return std::nullopt;
    }
    int n = 0;
    const char* end = argument.data() + argument.size();
    const auto [stop, error] = std::from_chars(argument.data() + 3, end, n);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return n;
}

// The device a path names, links followed; the path itself if it names
// nothing (yet): opening it then says what is wrong.
std::string deviceOf(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

std::optional<int> windowNumberOf(const std::string& device, const std::vector<PortInfo>& systemPorts)
{
    for (const PortInfo& port : systemPorts) {
        if (port.path == device && port.com > 0)
            return port.com;
    }
    return std::nullopt;
}

} // namespace

PortChoice choosePort(const std::string& argument, std::unique_ptr<PortDirectory> systemDirectory,
    const std::vector<PortInfo>& systemPorts)
{
    PortChoice choice;
    choice.facts.argument = argument;
    if (const auto n = comNumber(argument)) {
        choice.directory = std::move(systemDirectory);
        choice.number = *n;
        choice.facts.com = *n;
        choice.facts.device = choice.directory->pathOf(*n);
        choice.facts.description =
            argument + " (" + (choice.facts.device.empty() ? "no such port" : choice.facts.device) + ")";
        return choice;
    }
    const std::string device = deviceOf(argument);
    choice.directory = std::make_unique<ListedPortDirectory>([device] { return std::vector<std::string>{device}; });
    choice.number = 1;
    choice.facts.device = device;
    choice.facts.com = windowNumberOf(device, systemPorts);
    std::vector<std::string> aside;
    if (device != argument)
        aside.push_back(device);
    if (choice.facts.com)
        aside.push_back("COM" + std::to_string(*choice.facts.com));
    choice.facts.description = argument;
    for (std::size_t i = 0; i < aside.size(); ++i)
        choice.facts.description += (i == 0 ? " (" : ", ") + aside[i];
    if (!aside.empty())
        choice.facts.description += ")";
    return choice;
}

PortChoice choosePort(const std::string& argument)
{
    // Only a COMn needs the system's numbering; a path needs the list only
    // to tell which COMn the window would call it.
    return choosePort(argument, platform::makePortDirectory(), platform::listSerialPorts());
}

} // namespace isp::cli
