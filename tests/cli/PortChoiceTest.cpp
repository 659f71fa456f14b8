// What PORT names: COMn in the window's numbering, or a device, whose links
// are followed once and shown beside it.
#include "cli/PortChoice.h"

#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace isp;
using namespace isp::cli;
using namespace isp::test;

namespace {

std::unique_ptr<PortDirectory> directoryOf(const std::vector<std::string>& paths)
{
    return std::make_unique<ListedPortDirectory>([paths] { return paths; });
}

std::vector<PortInfo> portsOf(const std::vector<std::string>& paths)
{
    std::vector<PortInfo> ports;
    ports.reserve(paths.size());
    for (const std::string& path : paths)
        ports.push_back({static_cast<int>(ports.size()) + 1, path, {}, {}, {}, {}, {}, {}});
    return ports;
}

} // namespace

TEST(PortChoice, ComNumbersTheSystemsPortsAsTheWindowDoes)
{
    const std::vector<std::string> system{"/dev/ttyS0", "/dev/ttyUSB0"};
    const PortChoice second = choosePort("com2", directoryOf(system), portsOf(system));
    EXPECT_EQ(second.number, 2);
    EXPECT_EQ(second.directory->pathOf(second.number), "/dev/ttyUSB0");
    EXPECT_EQ(second.facts.com, 2);
    EXPECT_EQ(second.facts.description, "com2 (/dev/ttyUSB0)");

    const PortChoice none = choosePort("COM9", directoryOf(system), portsOf(system));
    EXPECT_EQ(none.number, 9);
    EXPECT_EQ(none.facts.device, "");
    EXPECT_EQ(none.facts.description, "COM9 (no such port)");
}

TEST(PortChoice, ADeviceIsCom1OfItsOwnDirectoryAndALinkIsFollowedOnce)
{
    ScratchFolder folder;
    const std::string device = folder / "ttyUSB0";
    writeFile(device, std::string("x"));
    const std::string link = folder / "usb-FTDI_FT232R_A10K-if00-port0";
    std::filesystem::create_symlink(device, link);
    const std::string canonicalDevice = std::filesystem::canonical(device).string();
    const std::vector<std::string> system{"/dev/ttyS0", canonicalDevice};

    const PortChoice byLink = choosePort(link, directoryOf({"/dev/ttyS0"}), portsOf(system));
    EXPECT_EQ(byLink.number, 1);
    EXPECT_EQ(byLink.directory->pathOf(1), canonicalDevice);
    EXPECT_EQ(byLink.directory->pathOf(2), "");
    EXPECT_EQ(byLink.facts.device, canonicalDevice);
    EXPECT_EQ(byLink.facts.com, 2);
    EXPECT_EQ(byLink.facts.description, link + " (" + canonicalDevice + ", COM2)");

    // A device that is not there is still what the user named: opening it
    // then says it is not there.
    const PortChoice missing = choosePort("/dev/ttyUSB7", directoryOf({}), {});
    EXPECT_EQ(missing.directory->pathOf(1), "/dev/ttyUSB7");
    EXPECT_EQ(missing.facts.description, "/dev/ttyUSB7");
    EXPECT_FALSE(missing.facts.com);
}
