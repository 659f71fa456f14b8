#pragma once

#include "cli/RunFacts.h"
#include "cli/UploadEvents.h"
#include "serial/PortDirectory.h"
#include "serial/PortInfo.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The PORT of the command line, turned into what the serial component needs:
// a directory of that one port, opened as its COM1, which names it in every
// message as the user named it.
//
// On Windows PORT is the system's own COMn ("COM3", "com3", "COM3:",
// "\\.\COM3"; COM1 to COM4096, the numbers Windows gives ports), or a device
// name "\\.\NAME"; anything else is no port. Elsewhere "COMn" numbers the
// ports as the window does (the nth of the system's serial ports in natural
// order of their device paths), and anything else is the device itself: a
// path such as /dev/ttyUSB0, or a link that survives re-plugging
// (/dev/serial/by-id/..., /dev/serial/by-path/...). A link is followed when
// the port is chosen, and again when the port is looked for after it went
// away: the device it names is what is opened (and what lock files and other
// programs name), and messages show both. A path that names something other
// than a serial device is refused before anything is opened.
namespace isp::cli {

// The largest COM number Windows' port database hands out.
inline constexpr int MaxComNumber = 4096;
// What starts a Windows device name, "\\.\COM10", "\\.\CNCA0".
inline constexpr std::string_view WindowsDevicePrefix = R"(\\.\)";

// n of a COM port name as Windows takes one: "COM3", "com3", "COM3:",
// "\\.\COM3", n from 1 to MaxComNumber without leading zeros; none for
// anything else.
std::optional<int> comNumberOf(std::string_view name);

// What a path names, found out without opening it.
enum class PathKind {
    SerialDevice, // a serial port (or a pseudo-terminal), or on Windows a device name
    Missing,      // nothing (yet): opening it says so, or --loop waits for it
    RegularFile,
    Folder,
    OtherDevice, // a device that is no serial port (/dev/null, a disk, a console)
    Other,       // a FIFO, a socket
};

// How this system names serial ports (cli/posix/, cli/windows/); the tests
// make one up.
struct PortSystem {
    // Windows: COMn is the system's own name, opened as \\.\COMn, and a name
    // that is neither that nor \\.\NAME is no port. Elsewhere COMn is the
    // window's numbering of `ports`, and a path names a device.
    bool comNamesAreTheSystems = false;
    std::vector<PortInfo> ports; // in COMn order
    std::function<PathKind(const std::string& path)> inspect;
    // The device a path names, links followed; the path itself if it names
    // nothing (yet).
    std::function<std::string(const std::string& path)> follow;
};

// This system's.
PortSystem thisPortSystem();

// The chosen port, as a port directory of one port: pathOf(1) is the device,
// nameOf(1) the port as messages name it.
class ChosenPort final : public PortDirectory {
public:
    ChosenPort(PortFacts facts, std::function<PortFacts()> follow, std::function<bool(const std::string&)> present);

    std::string pathOf(int n) const override { return n == 1 ? facts_.device : std::string(); }
    std::string nameOf(int n) const override { return n == 1 ? facts_.description : std::string(); }
    // Follows a link anew: the port came back, perhaps as another device.
    void refresh() override;
    // One port, numbered 1: none above.
    std::vector<int> numbersAbove(int) const override { return {}; }

    const PortFacts& facts() const { return facts_; }
    // Whether its device is there to be opened now, as far as can be told
    // without opening it.
    bool present() const { return present_(facts_.device); }

private:
    PortFacts facts_;
    std::function<PortFacts()> follow_;
    std::function<bool(const std::string&)> present_;
};

struct PortChoice {
    std::unique_ptr<ChosenPort> port; // none when PORT names no port
    Failure refusal;                  // then: why not
};

// `image` is the IMAGE argument: a PORT that is a file while IMAGE looks like
// a port was most likely swapped with it, and the refusal says so.
PortChoice choosePort(const std::string& argument, const std::string& image, const PortSystem& system);

} // namespace isp::cli
