// What PORT names: COMn in the window's numbering (Linux) or the system's
// own COMn (Windows), or a device, whose links are followed and shown beside
// it; and what is no port, refused before anything is opened.
#include "cli/PortChoice.h"

#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace isp;
using namespace isp::cli;
using namespace isp::test;

namespace {

std::vector<PortInfo> portsOf(const std::vector<std::string>& paths)
{
    std::vector<PortInfo> ports;
    ports.reserve(paths.size());
    for (const std::string& path : paths)
        ports.push_back({static_cast<int>(ports.size()) + 1, path, {}, {}, {}, {}, {}, {}});
    return ports;
}

// A system whose serial devices are `devices`; other names are what the
// file system says they are.
PortSystem linuxWith(const std::vector<std::string>& system, const std::set<std::string>& devices)
{
    PortSystem made;
    made.ports = portsOf(system);
    made.inspect = [devices](const std::string& path) {
        std::error_code error;
        const auto status = std::filesystem::status(path, error);
        if (devices.count(std::filesystem::weakly_canonical(path).string()) != 0)
            return PathKind::SerialDevice;
        if (status.type() == std::filesystem::file_type::directory)
            return PathKind::Folder;
        if (status.type() == std::filesystem::file_type::regular)
            return PathKind::RegularFile;
        return path == "/dev/null" ? PathKind::OtherDevice : PathKind::Missing;
    };
    made.follow = [](const std::string& path) {
        std::error_code error;
        const auto resolved = std::filesystem::canonical(path, error);
        return error ? path : resolved.string();
    };
    return made;
}

PortSystem windowsSystem()
{
    PortSystem made;
    made.comNamesAreTheSystems = true;
    made.inspect = [](const std::string& name) {
        return name == R"(C:\fw\app.hex)" ? PathKind::RegularFile : PathKind::Missing;
    };
    made.follow = [](const std::string& name) { return name; };
    return made;
}

} // namespace

TEST(PortChoice, ComNamesAreTakenAsWindowsTakesThemAndNothingElse)
{
    for (const auto& [name, n] : std::vector<std::pair<std::string, int>>{{"COM3", 3}, {"com3", 3}, {"COM3:", 3},
             {R"(\\.\COM3)", 3}, {"COM255", 255}, {"COM300", 300}, {"COM4096", 4096}}) {
        EXPECT_EQ(comNumberOf(name), n) << name;
    }
    for (const std::string name : {"COM0", "COM4097", "COM03", "COM", "COMx", "COM 3", "COM-1", "COM3::", "xCOM3"})
        EXPECT_FALSE(comNumberOf(name)) << name;

    // On Windows COMn is the system's own, opened as \\.\COMn: COM300 is
    // COM300, not its number modulo 256.
    const PortChoice high = choosePort("com300:", "app.hex", windowsSystem());
    ASSERT_TRUE(high.port);
    EXPECT_EQ(high.port->pathOf(1), R"(\\.\COM300)");
    EXPECT_EQ(high.port->nameOf(1), "COM300");
    EXPECT_EQ(high.port->facts().com, 300);
    EXPECT_EQ(high.port->facts().argument, "com300:");
    const PortChoice device = choosePort(R"(\\.\CNCA0)", "app.hex", windowsSystem());
    ASSERT_TRUE(device.port);
    EXPECT_EQ(device.port->nameOf(1), R"(\\.\CNCA0)");

    // What is no COM port is refused naming what was typed, on both systems.
    for (const PortSystem& system : {windowsSystem(), linuxWith({}, {})}) {
        for (const std::string name : {"COM0", "COM4097", "com03"}) {
            const PortChoice wrong = choosePort(name, "app.hex", system);
            EXPECT_FALSE(wrong.port) << name;
            EXPECT_EQ(wrong.refusal.status, ExitStatus::Usage) << name;
            EXPECT_EQ(wrong.refusal.message.find("PORT " + name + " is no COM port name"), 0u) << wrong.refusal.message;
        }
    }
    const PortChoice typo = choosePort("KOM3", "app.hex", windowsSystem());
    EXPECT_EQ(typo.refusal.message, "PORT KOM3 is no COM port name: Windows names its ports COM1 to COM4096");
    const PortChoice swapped = choosePort(R"(C:\fw\app.hex)", "COM3", windowsSystem());
    EXPECT_EQ(swapped.refusal.message, R"(PORT C:\fw\app.hex is a file, not a serial port)");
    EXPECT_NE(swapped.refusal.advice.find("look swapped"), std::string::npos) << swapped.refusal.advice;
}

TEST(PortChoice, ComNumbersTheSystemsPortsAsTheWindowDoes)
{
    const std::vector<std::string> system{"/dev/ttyS0", "/dev/ttyUSB0"};
    const PortChoice second = choosePort("com2", "x.hex", linuxWith(system, {}));
    ASSERT_TRUE(second.port);
    EXPECT_EQ(second.port->pathOf(1), "/dev/ttyUSB0");
    EXPECT_EQ(second.port->facts().com, 2);
    EXPECT_EQ(second.port->nameOf(1), "com2 (/dev/ttyUSB0)");

    // The numbering is the one taken now: a COMn beyond it never appears.
    const PortChoice none = choosePort("COM9", "x.hex", linuxWith(system, {}));
    EXPECT_FALSE(none.port);
    EXPECT_EQ(none.refusal.status, ExitStatus::PortMissing);
    EXPECT_EQ(none.refusal.message, "COM9 names no serial port of this system, which has 2, COM1 to COM2");
}

TEST(PortChoice, ADeviceIsNamedByItsPathAndALinkIsFollowedAgainOnRefresh)
{
    ScratchFolder folder;
    const std::string first = std::filesystem::weakly_canonical(folder / "ttyACM0").string();
    const std::string second = std::filesystem::weakly_canonical(folder / "ttyACM1").string();
    writeFile(first, std::string("x"));
    writeFile(second, std::string("x"));
    const std::string link = folder / "usb-Velmora_Boot_Loader-if00";
    std::filesystem::create_symlink(first, link);
    const PortSystem system = linuxWith({"/dev/ttyS0", first}, {first, second});

    const PortChoice byLink = choosePort(link, "firmware.hex", system);
    ASSERT_TRUE(byLink.port);
    ChosenPort& port = *byLink.port;
    EXPECT_EQ(port.pathOf(1), first);
    EXPECT_EQ(port.pathOf(2), "");
    EXPECT_EQ(port.facts().com, 2);
    EXPECT_EQ(port.nameOf(1), link + " (" + first + ", COM2)");
    EXPECT_TRUE(port.present());

    // The board restarted: while its link is gone the port is not there;
    // it came back as another device, and the same name is followed anew.
    std::filesystem::remove(link);
    port.refresh();
    EXPECT_FALSE(port.present());
    std::filesystem::create_symlink(second, link);
    port.refresh();
    EXPECT_EQ(port.pathOf(1), second);
    EXPECT_EQ(port.nameOf(1), link + " (" + second + ")");
    EXPECT_FALSE(port.facts().com);

    // A device that is not there is still what the user named, and named
    // by its path alone, never COM1: opening it then says it is not there.
    const PortChoice missing = choosePort("/dev/ttyUSB7", "firmware.hex", system);
    ASSERT_TRUE(missing.port);
    EXPECT_EQ(missing.port->pathOf(1), "/dev/ttyUSB7");
    EXPECT_EQ(missing.port->nameOf(1), "/dev/ttyUSB7");
    EXPECT_FALSE(missing.port->present());
}

TEST(PortChoice, WhatIsNoSerialDeviceIsRefusedWithAHintWhenThePortAndImageLookSwapped)
{
    ScratchFolder folder;
    const std::string image = folder / "firmware.hex";
    writeFile(image, std::string(":00000001FF\n"));
    const std::string subfolder = folder / "images";
    std::filesystem::create_directory(subfolder);
    const PortSystem system = linuxWith({"/dev/ttyUSB0"}, {"/dev/ttyUSB0"});
    struct Case {
        std::string port;
        std::string image;
        std::string message;
        bool swapped;
    };
    for (const Case& c : {
             Case{image, "/dev/ttyUSB0", "PORT " + image + " is a file, not a serial port", true},
             Case{image, "COM1", "PORT " + image + " is a file, not a serial port", true},
             Case{subfolder, image, "PORT " + subfolder + " is a folder, not a serial port", false},
             Case{"/dev/null", image, "PORT /dev/null is a device, but not a serial port", false},
         }) {
        const PortChoice choice = choosePort(c.port, c.image, system);
        EXPECT_FALSE(choice.port) << c.port;
        EXPECT_EQ(choice.refusal.status, ExitStatus::Usage) << c.port;
        EXPECT_EQ(choice.refusal.message, c.message);
        EXPECT_EQ(choice.refusal.advice.find("look swapped") != std::string::npos, c.swapped) << c.port;
    }
}
