// What a person and a program see of an upload and of the port list: the progress line only on
// a terminal, --quiet, where the summary goes, and the JSON of failures and
// warnings (the other events are checked on a whole upload, CliUploadTest).
#include "cli/DeviceAccess.h"
#include "cli/HumanReport.h"
#include "cli/JsonReport.h"
#include "cli/ListCommand.h"
#include "serial/sim/SimulatedScheduler.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

using namespace isp;
using namespace isp::cli;

namespace {

RunFacts someFacts()
{
    RunFacts facts;
    facts.port = {
        "/dev/serial/by-id/usb-FTDI_X", "/dev/ttyUSB0", 2, "/dev/serial/by-id/usb-FTDI_X (/dev/ttyUSB0, COM2)"};
    facts.image = {"firmware.hex", "Intel HEX", "0badf00d", std::string(64, 'a'), 12, 70000,
        {"the name ends in .hex, but the contents are raw binary"}};
    return facts;
}

BoardSummary completeBoard()
{
    BoardSummary summary;
    summary.pagesSent = 224;
    summary.answers = 226;
    summary.requests = 227;
    summary.requestsIgnored = 2;
    summary.resent = {{5, 6}};
    summary.askedAgain = {{5, 7}};
    summary.duration = std::chrono::milliseconds(6812);
    summary.strayCharacters = 3;
    return summary;
}

struct Screens {
    std::ostringstream out;
    std::ostringstream err;
};

void uploadTwoPages(UploadEvents& report)
{
    report.waiting({1, false, false});
    report.boardStarted(1, 0);
    report.pageSent({1, 0, false, 1});
    report.requestIgnored(1, "PGqq");
    report.pageSent({1, 1, false, 2});
}

} // namespace

TEST(HumanReport, DrawsTheProgressLineInPlaceOnlyOnATerminal)
{
    const RunFacts facts = someFacts();
    Screens terminal;
    HumanReport onTerminal(terminal.out, terminal.err, facts, {false, true, false, false});
    uploadTwoPages(onTerminal);
    EXPECT_EQ(terminal.err.str(),
        "waiting for the device on /dev/serial/by-id/usb-FTDI_X (/dev/ttyUSB0, COM2)...\n"
        "\r0 of 224 pages (0%)"
        "\r1 of 224 pages (0%), page 0 sent"
        "\r1 of 224 pages (0%), page 0 sent, 1 request ignored"
        "\r2 of 224 pages (0%), page 1 sent, 1 request ignored");
    onTerminal.summary(completeBoard());
    // The line is wiped before the summary is written.
    const std::string last = "2 of 224 pages (0%), page 1 sent, 1 request ignored";
    const std::string wiped = "\r" + std::string(last.size(), ' ') + "\r";
    EXPECT_TRUE(terminal.err.str().ends_with(wiped)) << terminal.err.str();

    Screens log;
    HumanReport inLog(log.out, log.err, facts, {false, false, false, false});
    uploadTwoPages(inLog);
    inLog.summary(completeBoard());
    EXPECT_EQ(log.err.str(), "waiting for the device on /dev/serial/by-id/usb-FTDI_X (/dev/ttyUSB0, COM2)...\n");
    EXPECT_EQ(log.out.str(), terminal.out.str());
    EXPECT_EQ(log.out.str(),
        "done, the board got every page\n"
        "  pages sent:           224 of 224 (226 answers to 227 requests)\n"
        "  sent more than once:  5-6\n"
        "  asked more than once: 5-7\n"
        "  never asked for:      none\n"
        "  never sent:           none\n"
        "  requests ignored:     2 (beyond the page limits)\n"
        "  stray characters:     3 (dropped: no request followed within 50 ms)\n"
        "  time taken:           6.812 s (first request to last page)\n"
        "  image:                firmware.hex (Intel HEX)\n"
        "  image CRC-32:         0badf00d\n"
        "  image SHA-256:        "
            + std::string(64, 'a')
            + "\n"
              "  port:                 /dev/serial/by-id/usb-FTDI_X (/dev/ttyUSB0, COM2)\n"
              "  warning:              the name ends in .hex, but the contents are raw binary\n");
}

TEST(HumanReport, QuietSaysNothingButFailuresAndJsonMovesTheSummaryToStderr)
{
    const RunFacts facts = someFacts();
    const Failure held{ExitStatus::PortHeld, "COM2 (/dev/ttyUSB0) is held by picocom (process 77)",
        "Close the other program.", commPortHeld, 0};

    Screens quiet;
    HumanReport silent(quiet.out, quiet.err, facts, {true, true, false, false});
    uploadTwoPages(silent);
    silent.summary(completeBoard());
    silent.warning("the name ends in .bin, but the contents are Intel HEX");
    EXPECT_EQ(quiet.out.str(), "");
    EXPECT_EQ(quiet.err.str(), "");
    silent.failed(held);
    EXPECT_EQ(quiet.err.str(),
        "velmora-isp2-cli: COM2 (/dev/ttyUSB0) is held by picocom (process 77).\n  Close the other program.\n");

    Screens json;
    HumanReport besideJson(json.out, json.err, facts, {false, false, true, true});
    besideJson.summary(completeBoard());
    EXPECT_EQ(json.out.str(), "") << "stdout carries the JSON lines";
    EXPECT_TRUE(json.err.str().starts_with("board 1: done, the board got every page\n")) << json.err.str();
}

TEST(JsonReport, FailuresAndWarningsCarryTheirFieldsWithNullsForWhatIsNotKnownAndTimesInFixedNotation)
{
    SimulatedScheduler clock(Clock::Duration::zero());
    std::ostringstream out;
    JsonLines lines(out, clock, clock.now());
    const RunFacts facts = someFacts();
    JsonReport report(lines, facts);
    // An early event's time is still written in fixed notation, never 9e-06.
    clock.sleepFor(std::chrono::microseconds(9));
    report.warning("the name ends in .bin");
    clock.sleepFor(std::chrono::microseconds(1491));
    report.failed({ExitStatus::PortHeld, "held", "close it", commPortHeld, 0});
    report.failed({ExitStatus::PagesMissing, "silent", "reset it", 0, 3});
    BoardSummary restarted = completeBoard();
    restarted.portWentAway = true;
    report.summary(restarted);

    std::vector<nlohmann::json> parsed;
    std::istringstream in(out.str());
    std::string first;
    for (std::string line; std::getline(in, line);) {
        parsed.push_back(nlohmann::json::parse(line));
        if (first.empty())
            first = line;
    }
    ASSERT_EQ(parsed.size(), 4u);
    EXPECT_EQ(first, R"({"schema":1,"event":"warning","time":0.000009,"message":"the name ends in .bin"})");
    EXPECT_EQ(parsed[1],
        nlohmann::json::parse(R"({"schema":1,"event":"error","time":0.0015,"board":null,)"
                              R"("status":"port-held","exit_status":6,"message":"held",)"
                              R"("advice":"close it","comm_error":8005})"));
    EXPECT_EQ(parsed[2]["board"], 3);
    EXPECT_EQ(parsed[2]["exit_status"], 8);
    EXPECT_EQ(parsed[2]["comm_error"], nullptr);
    // A summary carries the image's warnings, the stray characters and
    // whether the port went away.
    EXPECT_EQ(parsed[3]["image"]["warnings"],
        nlohmann::json::parse(R"(["the name ends in .hex, but the contents are raw binary"])"));
    EXPECT_EQ(parsed[3]["stray_characters"], 3);
    EXPECT_EQ(parsed[3]["port_went_away"], true);
    EXPECT_EQ(parsed[3]["seconds"], 6.812);
}

// The machines the tests run on have no serial port to list, so `list` is
// checked here on made-up ports: the window's numbers, what is not known as
// null, who holds a port.
TEST(PortList, ShowsEachPortWithItsComNumberWhatIsKnownAndWhoHoldsIt)
{
    std::vector<ListedPort> ports(2);
    ports[0].info = {
        2, "/dev/ttyUSB0", {"/dev/serial/by-id/usb-FTDI_X"}, "FT232R USB UART", "FTDI", "A10K", 0x0403, 0x6001};
    ports[0].use = {platform::PortUse::State::Held, {{4242, "picocom"}}, "held by picocom (process 4242)"};
    ports[1].info.com = 5;
    ports[1].info.path = "/dev/ttyS4";
    ports[1].use = {platform::PortUse::State::NoPermission, {}, "no permission"};

    std::ostringstream text;
    writePortList(ports, text);
    EXPECT_EQ(text.str(),
        "COM2  /dev/ttyUSB0  held by picocom (process 4242)\n"
        "      FT232R USB UART, FTDI, serial A10K, USB 0403:6001\n"
        "      /dev/serial/by-id/usb-FTDI_X\n"
        "COM5  /dev/ttyS4    no permission\n");

    SimulatedScheduler clock(Clock::Duration::zero());
    std::ostringstream out;
    JsonLines lines(out, clock, clock.now());
    writePortListJson(ports, lines);
    std::istringstream in(out.str());
    std::string first;
    std::string second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(nlohmann::json::parse(first),
        nlohmann::json::parse(R"({"schema":1,"event":"port","time":0.0,"com":2,"device":"/dev/ttyUSB0",)"
                              R"("links":["/dev/serial/by-id/usb-FTDI_X"],"description":"FT232R USB UART",)"
                              R"("manufacturer":"FTDI","serial_number":"A10K","vendor_id":"0403",)"
                              R"("product_id":"6001","availability":"held",)"
                              R"j("availability_text":"held by picocom (process 4242)",)j"
                              R"("holders":[{"pid":4242,"program":"picocom"}]})"));
    const auto bare = nlohmann::json::parse(second);
    EXPECT_EQ(bare["com"], 5);
    EXPECT_EQ(bare["description"], nullptr);
    EXPECT_EQ(bare["vendor_id"], nullptr);
    EXPECT_EQ(bare["availability"], "no-permission");
    EXPECT_EQ(bare["holders"], nlohmann::json::array());
}

// A device that only root may open is not opened by joining dialout; one of
// the dialout group is, from the next login on.
TEST(Failures, NoPermissionNamesTheDevicesOwnerGroupAndModeAndSuggestsAGroupOnlyWhereItHelps)
{
    const Failure rootOnly = noPermission("/dev/ttyACM0", {"root", "root", 0600, false, false});
    EXPECT_EQ(rootOnly.status, ExitStatus::NoPermission);
    EXPECT_EQ(rootOnly.message,
        "You may not open /dev/ttyACM0: the device belongs to user root and group root, mode "
        "rw------- (0600)");
    EXPECT_EQ(rootOnly.advice.find("No group may read and write it"), 0u) << rootOnly.advice;
    EXPECT_EQ(rootOnly.advice.find("usermod"), std::string::npos) << rootOnly.advice;

    const Failure notMember = noPermission("/dev/ttyUSB0", {"root", "dialout", 0660, false, false});
    EXPECT_EQ(notMember.message,
        "You may not open /dev/ttyUSB0: the device belongs to user root and group dialout, "
        "mode rw-rw---- (0660), and your user is not in that group");
    EXPECT_EQ(notMember.advice, "Join the group dialout (sudo usermod -aG dialout $USER), then log out and in again.");

    const Failure joined = noPermission("/dev/ttyUSB0", {"root", "uucp", 0660, false, true});
    EXPECT_NE(joined.message.find("you have joined the group, but it counts from your next login"), std::string::npos);
    EXPECT_EQ(joined.advice, "Log out and in again (or restart the machine), then run again.");
}
