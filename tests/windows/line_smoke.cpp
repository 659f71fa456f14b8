// The Windows serial line and event loop under the communications control,
// as the command line uses them, for a test on Linux that runs this program
// under Wine with COMn mapped to a pseudo-terminal (tests/WineLineTest.cpp).
//
//   line_smoke COMn
//
// Opens COMn at 38400,M,8,1 and echoes messages: a message is a length byte
// n and n bytes. Each echo goes out with the other parity, mark and space in
// turn (the port drained, closed and reopened, as the page sender does), and
// the port stays so until the next message, for the test to read the line's
// mode.
// n = 0 ends the program. Lines on stdout say what happened:
//   open | echo <n> <S|M> | error <number> <text>
// Exit status: 0 done, 1 the port failed, 2 it did not open, 4 nothing came
// for too long.
#include "serial/CommControl.h"
#include "serial/Platform.h"

#include <chrono>
#include <cstdio>
#include <string>

using namespace isp;
using namespace std::chrono_literals;

namespace {

// A safety limit for a test gone wrong, never a pacing.
constexpr auto SilenceLimit = 30s;

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int fail(const CommResult& result, int status)
{
    say("error " + std::to_string(result.number()) + " " + result.text());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string port = argc > 1 ? argv[1] : "";
    if (port.rfind("COM", 0) != 0)
        return fail({commNoSuchPort, "usage: line_smoke COMn"}, 2);
    platform::tuneProcessForTiming();
    const auto loop = platform::makeMainLoop();
    const auto directory = platform::makePortDirectory();
    CommControl comm(platform::makeSerialLine(*loop), *directory, *loop);

    if (CommResult r = comm.setCommPort(std::stoi(port.substr(3))); !r)
        return fail(r, 2);
    (void)comm.setSettings("38400,M,8,1");
    comm.setRThreshold(1);
    if (CommResult r = comm.setPortOpen(true); !r)
        return fail(r, 2);
    say("open");

    std::string pending;
    int echoes = 0;
    int status = -1;
    comm.setOnComm([&] {
        pending += comm.Input();
        while (!pending.empty() && pending.size() > static_cast<unsigned char>(pending[0])) {
            const std::size_t length = static_cast<unsigned char>(pending[0]);
            const std::string message = pending.substr(1, length);
            pending.erase(0, length + 1);
            if (length == 0) {
                const CommResult closed = comm.setPortOpen(false);
                status = closed ? 0 : fail(closed, 1);
                return;
            }
            const char* parity = echoes++ % 2 == 0 ? "S" : "M";
            CommResult r = comm.setPortOpen(false);
            if (r)
                r = comm.setSettings(std::string("38400,") + parity + ",8,1");
            if (r)
                r = comm.setPortOpen(true);
            if (r)
                r = comm.Output({reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
            if (!r) {
                status = fail(r, 1);
                return;
            }
            say("echo " + std::to_string(length) + " " + parity);
        }
    });
    while (status < 0) {
        if (!loop->runUntil([&] { return status >= 0; }, SilenceLimit))
            return fail({commIoError, "nothing happened for too long"}, 4);
    }
    return status;
}
