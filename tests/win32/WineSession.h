#pragma once

#include "serial/MainLoop.h"

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// The Win32 window under Wine, as its tests reach it from Linux: the program
// started with its output in a file (a Wine program's output is never read
// through a pipe: the desktop process inherits the pipe and its reader waits
// forever), the window driver run for each look and each action, COM ports
// mapped onto pseudo-terminals. Everything runs while the test's event loop
// goes on, so the boot loader on the pty is served meanwhile.
//
// scripts/windows-test.sh sets what it needs: WINEPREFIX (a prefix that maps
// no real port), DISPLAY (a headless X server), ISP_WIN32_WINDOW and
// ISP_WIN32_DRIVER (the two .exe files).
namespace isp::test {

// A file of this machine as a Windows program names it (Wine's Z: drive).
std::string windowsPath(const std::filesystem::path& path);

// Removes every COM port of the prefix (links in its dosdevices): Wine maps
// the machine's real serial ports there when its server starts.
void removeComLinks();

// $WINEPREFIX/dosdevices/comN -> target, for as long as it lives.
class ComLink {
public:
    ComLink(int n, const std::string& target);
    ~ComLink();
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

private:
    std::filesystem::path path_;
};

// A Windows program under Wine.
class WineProcess {
public:
    WineProcess(
        const std::string& program, const std::vector<std::string>& arguments, const std::filesystem::path& output);
    ~WineProcess();
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;

    bool exited();
    // Its exit code, once exited.
    int exitStatus() const { return status_; }
    pid_t pid() const { return pid_; }
    // Processor time it used so far, and the most memory it held, as Linux
    // counts them for the process Wine runs the program in.
    double cpuSeconds() const;
    long peakKiB() const;
    void kill();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs the loop until `done` holds or `limit` passed, looking at least every
// 10 ms. `limit` is a safety limit for a test gone wrong, never a pacing.
bool runUntil(MainLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit);

// The window driver (tests/windows/window_driver.cpp).
class WindowDriver {
public:
    explicit WindowDriver(MainLoop& loop);
    ~WindowDriver();
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    // Runs one command; what it wrote, with "status" 0 when it did it.
    nlohmann::json run(const std::vector<std::string>& command);
    bool act(const std::vector<std::string>& command) { return run(command).value("status", 1) == 0; }

    // The program's windows; a window's JSON by name, null when not showing.
    nlohmann::json tree() { return run({"tree"}); }
    static nlohmann::json window(const nlohmann::json& tree, const std::string& name);
    static nlohmann::json control(const nlohmann::json& window, const std::string& name);

private:
    MainLoop& loop_;
    std::filesystem::path folder_;
    int runs_ = 0;
};

std::string environment(const char* name);

// The sizes of the icons the X server has for the top-level window of that
// caption, as "32x32 16x16" (Wine hands a window's icons to X; another
// Windows program cannot read a window's icons under Wine).
std::string xIconSizes(const std::string& caption);

} // namespace isp::test
