// The real velmora-isp2-cli against a boot loader on a pseudo-terminal:
// whole uploads, a device that gives up, no device, a vanishing port, a
// board that restarts once it has every page and its port that comes back,
// Ctrl-C in the middle of a page, SIGTERM and SIGHUP, a reader of the output
// that goes away, board after board, and the trace.
#include "image/Crc32.h"
#include "image/Sha256.h"
#include "tests/cli/CliFixture.h"
#include "tests/cli/PtyViolations.h"
#include "tests/support/ImageScript.h"
#include "transfer/Protocol.h"

#include <nlohmann/json.hpp>

#include <signal.h>

#include <numeric>
#include <regex>

using namespace isp;
using namespace isp::test;

namespace {

using Json = nlohmann::json;

std::vector<int> pagesUpTo(int count)
{
    std::vector<int> pages(static_cast<std::size_t>(count));
    std::iota(pages.begin(), pages.end(), 0);
    return pages;
}

// Every line one object of the documented schema: version 1, a known event,
// a time that never goes back, and the fields that event always has.
std::vector<Json> parseJsonLines(const std::string& text)
{
    static const std::map<std::string, std::vector<std::string>> fields{
        {"waiting", {"board", "port", "device", "com", "awaiting"}},
        {"board_started", {"board", "page"}},
        {"page_sent", {"board", "page", "pages_sent"}},
        {"page_resent", {"board", "page", "pages_sent"}},
        {"request_ignored", {"board", "request"}},
        {"done", {"board", "pages_sent", "seconds", "port_went_away"}},
        {"error", {"board", "status", "exit_status", "message", "advice", "comm_error"}},
        {"warning", {"message"}},
        {"summary",
            {"board", "result", "exit_status", "pages_sent", "answers", "requests", "requests_ignored",
                "stray_characters", "resent", "asked_again", "never_asked", "never_sent", "seconds", "port_went_away",
                "port", "device", "image"}},
    };
    std::vector<Json> events;
    double lastTime = 0;
    for (const std::string& line : linesOf(text)) {
        SCOPED_TRACE(line);
        Json event = Json::parse(line, nullptr, false);
        EXPECT_TRUE(event.is_object());
        if (!event.is_object())
            continue;
        EXPECT_EQ(event.value("schema", 0), 1);
        const auto known = fields.find(event.value("event", ""));
        EXPECT_NE(known, fields.end());
        if (known != fields.end()) {
            for (const std::string& field : known->second)
                EXPECT_TRUE(event.contains(field)) << field;
        }
        EXPECT_GE(event.value("time", -1.0), lastTime);
        lastTime = event.value("time", lastTime);
        events.push_back(std::move(event));
    }
    return events;
}

std::vector<Json> eventsNamed(const std::vector<Json>& events, const std::string& name)
{
    std::vector<Json> found;
    for (const Json& event : events) {
        if (event["event"] == name)
            found.push_back(event);
    }
    return found;
}

class CliUpload : public CliFixture {};

} // namespace

TEST_F(CliUpload, WholeImageEndsWithStatusZeroAndASummaryOfIt)
{
    const ImageBytes image = randomImage(61);
    auto cli = startUpload(writeImage(image), {"--idle-timeout", "0.3"});
    auto device = startDevice();

    ASSERT_EQ(awaitExit(*cli), 0) << cli->err();
    EXPECT_EQ(violationsOnAPty(device->loader()), std::vector<std::string>{});
    EXPECT_TRUE(device->loader().flash() == image);
    // The summary is the whole of stdout; stderr is no terminal, so it has
    // no progress line, only the line that says the port is listened to.
    const std::string& summary = cli->out();
    EXPECT_TRUE(contains(summary, "done, the board got every page")) << summary;
    EXPECT_TRUE(contains(summary, "pages sent:           224 of 224 (224 answers to 224 requests)")) << summary;
    EXPECT_TRUE(contains(summary, "never asked for:      none")) << summary;
    EXPECT_TRUE(contains(summary, "requests ignored:     0")) << summary;
    EXPECT_TRUE(contains(summary, "image CRC-32:         " + crc32Hex(image))) << summary;
    EXPECT_TRUE(contains(summary, "image SHA-256:        " + sha256Hex(image))) << summary;
    EXPECT_EQ(linesOf(cli->err()).size(), 1u) << cli->err();
    EXPECT_FALSE(contains(cli->err(), "\r"));
}

TEST_F(CliUpload, ADeviceThatStopsAtPage100EndsWithThePagesNeverSent)
{
    VirtualBootLoader::Options options;
    options.pageOrder = pagesUpTo(100);
    // The stall time is long enough that a busy machine's pause between two
    // pages is not taken for the device giving up.
    auto cli = startUpload(writeImage(randomImage(62)), {"--idle-timeout", "0.3", "--stall-timeout", "2"});
    auto device = startDevice(options);

    ASSERT_EQ(awaitExit(*cli), 8) << cli->err();
    EXPECT_EQ(device->loader().pagesWritten(), 100);
    EXPECT_TRUE(contains(cli->err(), "124 pages of 224 never sent: 100-223")) << cli->err();
    EXPECT_TRUE(contains(cli->out(), "FAILED, pages never sent: 100-223")) << cli->out();
    EXPECT_TRUE(contains(cli->out(), "never asked for:      100-223")) << cli->out();
}

TEST_F(CliUpload, NoRequestInTimeEndsWithItsOwnStatus)
{
    auto cli = startUpload(writeImage(randomImage(63)), {"--first-request-timeout", "0.3"});

    ASSERT_EQ(awaitExit(*cli), 7) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "did not ask for a page within 300 ms")) << cli->err();
    EXPECT_TRUE(contains(cli->out(), "pages sent:           0 of 224")) << cli->out();
}

TEST_F(CliUpload, APortThatVanishesMidUploadEndsAsPortLost)
{
    auto cli = startUpload(writeImage(randomImage(64)), {});
    auto device = startDevice();
    ASSERT_TRUE(runUntil(
        loop, [&] { return device->loader().pagesWritten() >= 20; }, UploadLimit));
    device->hangUp();

    ASSERT_EQ(awaitExit(*cli), 9) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "The upload stopped")) << cli->err();
    EXPECT_TRUE(contains(cli->out(), "FAILED, the port went away")) << cli->out();
}

TEST_F(CliUpload, CtrlCInTheMiddleOfAPageLetsThePageFinish)
{
    auto cli = startUpload(writeImage(randomImage(65)), {});
    auto device = startDevice();
    VirtualBootLoader& loader = device->loader();
    // The first bytes of page 10's header are here: the program is inside
    // the task that sends the page (header, frame and the pause after it).
    ASSERT_TRUE(runUntil(
        loop, [&] { return loader.gaps().size() >= 11; }, UploadLimit));
    cli->sendSignal(SIGINT);

    ASSERT_EQ(awaitExit(*cli), 130) << cli->err();
    // Page 10 arrives whole, and no other page is started.
    ASSERT_TRUE(runUntil(
        loop, [&] { return loader.pagesWritten() >= 11; }, StartLimit));
    EXPECT_EQ(loader.pagesWritten(), 11);
    EXPECT_EQ(loader.gaps().size(), 11u) << "a header without its frame";
    EXPECT_EQ(violationsOnAPty(loader), std::vector<std::string>{});
    EXPECT_TRUE(contains(cli->err(), "Interrupted: board 1 had 11 pages of 224; the port is closed")) << cli->err();
    EXPECT_TRUE(contains(cli->out(), "interrupted\n  pages sent:           11 of 224")) << cli->out();
}

TEST_F(CliUpload, LoopServesTwoBoardsReportedInJsonLines)
{
    const ImageBytes image = randomImage(66);
    auto cli = startUpload(writeImage(image), {"--loop", "--json", "--idle-timeout", "0.3"});

    auto first = startDevice();
    ASSERT_TRUE(runUntil(
        loop, [&] { return contains(cli->out(), "\"event\":\"summary\""); }, UploadLimit));
    first.reset();
    // The second board asks beyond the limits once, and for page 7 twice.
    VirtualBootLoader::Options options;
    options.pageOrder = pagesUpTo(PageCount);
    options.pageOrder.insert(options.pageOrder.begin() + 8, 7);
    pty.send(std::string("PGqq")); // 50 47 71 71: c2 + c3 = 113 + 113
    ASSERT_TRUE(runUntil(
        loop, [&] { return contains(cli->out(), "request_ignored"); }, StartLimit));
    auto second = startDevice(options);
    ASSERT_TRUE(runUntil(
        loop, [&] { return eventsNamed(parseJsonLines(cli->out()), "summary").size() == 2; }, UploadLimit));
    cli->sendSignal(SIGINT);
    ASSERT_EQ(awaitExit(*cli), 130) << cli->err();
    EXPECT_TRUE(second->loader().flash() == image);

    const std::vector<Json> events = parseJsonLines(cli->out());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front()["event"], "waiting");
    EXPECT_EQ(events.front()["port"], port.argument());
    const auto summaries = eventsNamed(events, "summary");
    ASSERT_EQ(summaries.size(), 2u);
    for (int board = 1; board <= 2; ++board) {
        const Json& summary = summaries[static_cast<std::size_t>(board - 1)];
        SCOPED_TRACE(summary.dump());
        EXPECT_EQ(summary["board"], board);
        EXPECT_EQ(summary["result"], "ok");
        EXPECT_EQ(summary["exit_status"], 0);
        EXPECT_EQ(summary["pages_sent"], 224);
        EXPECT_EQ(summary["never_sent"], Json::array());
        EXPECT_EQ(summary["image"]["crc32"], crc32Hex(image));
        EXPECT_EQ(summary["image"]["sha256"], sha256Hex(image));
    }
    EXPECT_EQ(summaries[1]["answers"], 225);
    EXPECT_EQ(summaries[1]["resent"], Json::parse("[[7,7]]"));
    EXPECT_EQ(summaries[1]["asked_again"], Json::parse("[[7,7]]"));
    EXPECT_EQ(summaries[1]["requests_ignored"], 1);

    EXPECT_EQ(eventsNamed(events, "done").size(), 2u);
    EXPECT_EQ(eventsNamed(events, "page_sent").size(), 448u);
    const auto resent = eventsNamed(events, "page_resent");
    ASSERT_EQ(resent.size(), 1u);
    EXPECT_EQ(resent[0]["board"], 2);
    EXPECT_EQ(resent[0]["page"], 7);
    const auto ignored = eventsNamed(events, "request_ignored");
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0]["request"], "50 47 71 71");
    const auto waiting = eventsNamed(events, "waiting");
    ASSERT_EQ(waiting.size(), 3u) << "before each board, and after the second";
    EXPECT_EQ(waiting[1]["board"], 2);
    EXPECT_EQ(events.back()["event"], "error");
    EXPECT_EQ(events.back()["status"], "interrupted");
    EXPECT_EQ(events.back()["board"], nullptr);
}

TEST_F(CliUpload, TraceShowsSpaceParityHeadersAndMarkParityFrames)
{
    VirtualBootLoader::Options options;
    options.pageOrder = {0, 1, 2};
    const std::string trace = folder / "trace.txt";
    auto cli = startUpload(writeImage(randomImage(67)), {"--trace", trace, "--stall-timeout", "2"});
    auto device = startDevice(options);
    ASSERT_EQ(awaitExit(*cli), 8) << cli->err();

    // After the two heading lines: per page a request, its header under
    // space parity and its frame under mark parity.
    const std::vector<std::string> lines = linesOf(readFile(trace));
    ASSERT_EQ(lines.size(), 2u + 3u * 3u) << readFile(trace);
    EXPECT_TRUE(contains(lines[0], "# velmora-isp2-cli trace of " + port.argument())) << lines[0];
    const std::regex entry(R"(^(\d+)\.(\d{6}) (rx|tx space|tx mark)((?: [0-9a-f]{2})+)$)");
    // Whole microseconds, as written: a double would make 20 ms come out
    // as 0.019999... now and then.
    long long lastTime = 0;
    long long requestTime = 0;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(lines[i], parts, entry));
        const long long time = std::stoll(parts[1].str()) * 1'000'000 + std::stoll(parts[2].str());
        EXPECT_GE(time, lastTime);
        lastTime = time;
        const std::size_t bytes = parts[4].length() / 3;
        const int page = static_cast<int>(i - 2) / 3;
        switch ((i - 2) % 3) {
        case 0:
            EXPECT_EQ(parts[3], "rx");
            EXPECT_EQ(bytes, 4u);
            requestTime = time;
            break;
        case 1:
            EXPECT_EQ(parts[3], "tx space");
            EXPECT_EQ(parts[4].str(), " 00 00 0" + std::to_string(page));
            // The header waits 20 ms after the request, by the program's clock.
            EXPECT_GE(time - requestTime, 20'000);
            break;
        case 2:
            EXPECT_EQ(parts[3], "tx mark");
            EXPECT_EQ(bytes, 129u);
            break;
        }
    }
}

// A boot loader with a USB port of its own starts the new firmware once it
// has every page, and its port goes with it: that board is done. Here the
// device hangs up 300 ms after its last page, well within the idle time, as
// a board does once it has programmed the page and reset.
TEST_F(CliUpload, ABoardWhosePortGoesAfterItsLastPageIsDone)
{
    const ImageBytes image = randomImage(68);
    auto cli = startUpload(writeImage(image), {});
    auto device = startDevice();
    restartAfterPages(*device, PageCount);

    ASSERT_EQ(awaitExit(*cli), 0) << cli->err();
    EXPECT_TRUE(device->loader().flash() == image);
    EXPECT_TRUE(contains(cli->out(), "done, the board got every page, and its port went away after the last page"))
        << cli->out();
}

// With --loop the port that went away is awaited by its name and the next
// board served on it when it is back, however the board before ended.
TEST_F(CliUpload, InALoopThePortThatGoesWithEachBoardIsAwaitedAndTheNextBoardServedWhenItIsBack)
{
    const ImageBytes image = randomImage(69);
    const PortName stable = cli.linkedPort(pty.slavePath(), folder / "");
    auto run = startUploadOn(stable.argument(), writeImage(image), {"--loop", "--json"});
    const auto waitingEvents = [&] { return eventsNamed(parseJsonLines(run->out()), "waiting"); };
    const auto awaitWaiting = [&](std::size_t count) {
        return runUntil(
            loop, [&] { return waitingEvents().size() >= count || run->exited(); }, UploadLimit);
    };

    // Board 1 gets every page and restarts.
    auto first = startDevice();
    restartAfterPages(*first, PageCount);
    ASSERT_TRUE(awaitWaiting(2)) << run->err();
    EXPECT_TRUE(first->loader().flash() == image);

    // The next board's port appears (as another pty, under the same name);
    // it is pulled after 10 pages.
    PseudoTerminal next;
    stable.pointAt(next.slavePath());
    ASSERT_TRUE(awaitWaiting(3)) << run->err();
    VirtualBootLoader::Options tenPages;
    tenPages.pageOrder = pagesUpTo(10);
    tenPages.answerMayFollowTheRequestBefore = cli.underWine;
    PtyBootLoader second(next, loop, tenPages);
    restartAfterPages(second, 10);
    second.loader().start();
    ASSERT_TRUE(awaitWaiting(4)) << run->err();
    EXPECT_FALSE(run->exited()) << "a loop never ends by itself";
    run->sendSignal(SIGINT);
    ASSERT_EQ(awaitExit(*run), 130) << run->err();

    const std::vector<Json> events = parseJsonLines(run->out());
    const auto waiting = eventsNamed(events, "waiting");
    ASSERT_EQ(waiting.size(), 4u) << run->out() << run->err();
    const std::vector<std::pair<int, std::string>> expected{{1, "board"}, {2, "port"}, {2, "board"}, {3, "port"}};
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        EXPECT_EQ(waiting[i]["board"], expected[i].first) << i;
        EXPECT_EQ(waiting[i]["awaiting"], expected[i].second) << i;
        EXPECT_EQ(waiting[i]["port"], stable.argument());
    }
    const auto summaries = eventsNamed(events, "summary");
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[0]["result"], "ok");
    EXPECT_EQ(summaries[0]["port_went_away"], true);
    EXPECT_EQ(summaries[0]["pages_sent"], 224);
    EXPECT_EQ(summaries[1]["result"], "port-lost");
    EXPECT_EQ(summaries[1]["exit_status"], 9);
    EXPECT_EQ(summaries[1]["never_sent"], Json::parse("[[10,223]]"));
    EXPECT_EQ(events.back()["status"], "interrupted");
}

TEST_F(CliUpload, AReaderOfTheOutputThatGoesAwayStopsTheUploadAfterThePageUnderWay)
{
    auto cli = startUpload(writeImage(randomImage(70)), {"--json", "--loop"});
    auto device = startDevice();
    VirtualBootLoader& loader = device->loader();
    ASSERT_TRUE(runUntil(
        loop, [&] { return loader.pagesWritten() >= 20; }, UploadLimit));
    cli->closeOut();

    EXPECT_EQ(awaitExit(*cli), 10) << cli->err();
    EXPECT_TRUE(contains(cli->err(),
        "The record of the upload is lost: the program reading the JSON lines on stdout "
        "has ended, so no further board is taken"))
        << cli->err();
    // No page was cut, and the port is closed: the device asks in vain.
    const int pages = loader.pagesWritten();
    EXPECT_EQ(loader.gaps().size(), static_cast<std::size_t>(pages)) << "a header without its frame";
    EXPECT_EQ(violationsOnAPty(loader), std::vector<std::string>{});
    EXPECT_LT(pages, PageCount);
    // The summary is still told, on stderr.
    EXPECT_TRUE(contains(cli->err(),
        "board 1: stopped, the reader of the output went away\n  pages sent:           " + std::to_string(pages)))
        << cli->err();
}

// A closed terminal or a dropped ssh connection (SIGHUP) and SIGTERM end the
// upload as Ctrl-C does, each with 128 + its number, as shells read it.
class PosixCliSignals : public CliFixture {};

TEST_F(PosixCliSignals, HangUpAndTerminateEndLikeCtrlCWithTheirOwnStatus)
{
    for (const auto& [signal, status, said] :
        {std::tuple{SIGHUP, 129, "Interrupted (hung up: the terminal was closed)"},
            std::tuple{SIGTERM, 143, "Interrupted (terminated)"}}) {
        auto cli = startUpload(writeImage(randomImage(71)), {});
        auto device = startDevice();
        ASSERT_TRUE(runUntil(
            loop, [&] { return device->loader().pagesWritten() >= 3; }, UploadLimit));
        cli->sendSignal(signal);
        ASSERT_EQ(awaitExit(*cli), status) << cli->err();
        EXPECT_TRUE(contains(cli->err(), said)) << cli->err();
        EXPECT_TRUE(contains(cli->out(), "interrupted\n  pages sent:")) << cli->out();
        EXPECT_EQ(device->loader().gaps().size(), static_cast<std::size_t>(device->loader().pagesWritten()));
    }
}
