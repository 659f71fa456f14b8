// The Windows build's serial line and event loop, run under Wine with a COM
// port mapped to a pseudo-terminal whose master this test plays
// (tests/windows/line_smoke.cpp). What this shows: every byte value passes
// both ways, the DCB becomes the intended termios (PARENB with CMSPAR,
// PARODD for mark; a pty then drops PARENB itself), a missing port is named.
// Whole uploads, a vanishing device and Ctrl-C are the command line's
// end-to-end tests, which scripts/windows-test.sh runs under Wine too. Not
// here: parity bits on a wire, line time, exclusivity (tests/WinLineTest.cpp
// has those).
//
// Run by scripts/windows-test.sh, with WINEPREFIX set, its wineserver warm,
// and ISP_WINE_LINE_SMOKE naming line_smoke.exe.
#include "tests/support/PseudoTerminal.h"
#include "tests/win32/WineSession.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using isp::test::ComLink;
using isp::test::environment;
using isp::test::PseudoTerminal;

namespace {

// A safety limit for a test gone wrong, never a pacing.
constexpr auto Limit = 20s;

// line_smoke.exe under Wine, its output read line by line. The program
// bounds its own waits, so reading it never hangs.
class Smoke {
public:
    explicit Smoke(const std::string& port)
    {
        const std::string program = environment("ISP_WINE_LINE_SMOKE");
        if (program.empty())
            throw std::runtime_error("ISP_WINE_LINE_SMOKE is not set (scripts/windows-test.sh sets it)");
        pipe_ = ::popen(("wine '" + program + "' " + port).c_str(), "r");
        if (!pipe_)
            throw std::runtime_error("could not start wine");
    }
    ~Smoke()
    {
        if (pipe_)
            ::pclose(pipe_);
    }
    Smoke(const Smoke&) = delete;
    Smoke& operator=(const Smoke&) = delete;

    // The next line it wrote, without its line end; empty at its end.
    std::string nextLine()
    {
        char line[512];
        if (!std::fgets(line, sizeof line, pipe_))
            return {};
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }

    // Waits for its end.
    int exitStatus()
    {
        const int status = ::pclose(pipe_);
        pipe_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    FILE* pipe_ = nullptr;
};

struct Burst {
    std::string bytes;
    const char* parity; // as line_smoke says it: "S" or "M"
};

std::string byteRange(int first, int count)
{
    std::string bytes;
    for (int i = 0; i < count; ++i)
        bytes += static_cast<char>(first + i);
    return bytes;
}

} // namespace

TEST(WineLine, EveryByteValuePassesBothWaysAndEachBurstHasItsParity)
{
    PseudoTerminal pty;
    const ComLink link(40, pty.slavePath());
    Smoke smoke("COM40");
    ASSERT_EQ(smoke.nextLine(), "open");

    // Opened for listening with mark parity: raw, 38400 baud, 8 bits.
    termios mode = pty.slaveTermios();
    EXPECT_EQ(::cfgetospeed(&mode), B38400);
    EXPECT_EQ(mode.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(mode.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
    EXPECT_EQ(mode.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(mode.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(mode.c_oflag & OPOST, 0u);

    const Burst bursts[] = {
        {std::string("\0\0\x05", 3), "S"}, // a page header
        {std::string(129, '\xA5'), "M"},   // a page frame
        {byteRange(0, 128), "S"},          // and every byte value
        {byteRange(128, 128), "M"},
    };
    for (const Burst& burst : bursts) {
        SCOPED_TRACE(burst.parity);
        pty.send(std::string(1, static_cast<char>(burst.bytes.size())) + burst.bytes);
        const auto echoed = pty.receive(burst.bytes.size(), Limit);
        EXPECT_EQ(std::string(echoed.begin(), echoed.end()), burst.bytes);
        ASSERT_EQ(smoke.nextLine(), "echo " + std::to_string(burst.bytes.size()) + " " + burst.parity);
        mode = pty.slaveTermios();
        const tcflag_t parity = burst.parity[0] == 'M' ? CMSPAR | PARODD : CMSPAR;
        EXPECT_EQ(mode.c_cflag & (CMSPAR | PARODD), parity);
    }
    pty.send(std::string(1, '\0'));
    EXPECT_EQ(smoke.exitStatus(), 0);
}

TEST(WineLine, AMissingPortIsNamed)
{
    Smoke smoke("COM41"); // no mapping
    EXPECT_EQ(smoke.nextLine().rfind("error 8002 ", 0), 0u);
    EXPECT_EQ(smoke.exitStatus(), 2);
}
