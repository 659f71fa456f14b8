// Writes the seed corpus of both fuzz targets: small inputs, each a story a
// device and a user can really tell (a clean upload, a request split or
// bunched, a port pulled in the middle of a page, ...), from which the
// fuzzers start. Run as: fuzz_seed_writer tests/fuzz/corpus
#include "tests/fuzz/RequestPathInput.h"
#include "tests/fuzz/StateMachineInput.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

namespace fs = std::filesystem;
using namespace isp;
using namespace isp::fuzz;

namespace {

using Corpus = std::map<std::string, std::vector<std::uint8_t>>;

Corpus requestPathSeeds()
{
    using request_path::Writer;
    Corpus seeds;
    const auto add = [&seeds](const std::string& name, const Writer& w) { seeds[name] = w.in.data; };

    {
        Writer w;
        for (int page = 0; page < 5; ++page)
            w.request(page).runMillis(70);
        add("clean-upload-of-five-pages", w);
    }
    add("first-and-last-page", Writer().request(0).runMillis(70).request(223).runMillis(70));
    {
        Writer w;
        for (int split = 0; split < 6; ++split)
            w.request(150, split * 17).runMillis(70);
        add("page-150-split-six-ways", w);
    }
    for (int cut = 1; cut <= 3; ++cut) {
        const std::vector<std::uint8_t> request{0x50, 0x47, 0x20, 0x11};
        Writer w;
        w.send({request.begin(), request.begin() + cut}).runMicros(3000);
        w.send({request.begin() + cut, request.end()}).runMillis(70);
        add("request-split-after-" + std::to_string(cut) + "-characters", w);
    }
    add("three-characters-then-a-long-pause",
        Writer().send({0x50, 0x47, 0x05}).runMillis(250).send({0x07}).runMillis(70));
    add("two-requests-bunched-first-counts",
        Writer().request(40).request(41).busy(4000).runMillis(70).request(42).runMillis(70));
    add("requests-and-noise-bunched",
        Writer().send({0xFF, 0x00, 0x12}).request(60).request(61).send({0x7F}).busy(6000).runMillis(70));
    add("request-with-wrong-parity-everywhere", Writer().send({0x50, 0x47, 0x05, 0x07}, false).runMillis(70));
    add("request-with-one-wrong-parity-byte",
        Writer()
            .sendMixed({0x50, 0x47, 0x05, 0x07}, 0x0B)
            .runMillis(70)
            .sendMixed({0x50, 0x47, 0x05, 0x07}, 0x07)
            .runMillis(70));
    add("addends-out-of-limits",
        Writer()
            .send({0x50, 0x47, 113, 0})
            .runMillis(30)
            .send({0x50, 0x47, 0, 112})
            .runMillis(30)
            .send({0x50, 0x47, 0xFF, 0xFF})
            .runMillis(30)
            .send({0x50, 0x47, 112, 112})
            .runMillis(30)
            .send({0x50, 0x47, 112, 111})
            .runMillis(70));
    add("request-replacing-the-pending-one", Writer().request(10).runMicros(19900).request(11).runMillis(100));
    add("request-arriving-during-the-header",
        Writer().request(10).runMillis(70).request(14).runMicros(20500).request(15).runMillis(100));
    add("request-arriving-during-the-frame",
        Writer().request(16).runMicros(20900).send({0xAA, 0xAA, 0xAA, 0x50, 0x47, 0x00, 0x11}).runMillis(100));
    add("request-arriving-after-the-frame", Writer().request(12).runMicros(60000).request(13).runMillis(100));
    {
        Writer w;
        for (int event = 0; event < 16; ++event)
            w.otherEvent(event).runMicros(500);
        w.request(20).otherEvent(5).runMillis(70);
        add("line-and-modem-notifications", w);
    }
    {
        Writer w;
        for (const std::uint8_t byte : {0x50, 0x47, 0x30, 0x31, 0x50, 0x47})
            w.send({byte}).runMicros(400);
        w.runMillis(70);
        add("characters-trickle-in", w);
    }
    {
        std::mt19937 random(7);
        Writer w;
        for (int i = 0; i < 12; ++i) {
            std::vector<std::uint8_t> noise(1 + random() % 8);
            for (auto& byte : noise)
                byte = static_cast<std::uint8_t>(random());
            w.sendMixed(noise, static_cast<std::uint8_t>(random()));
            if (i % 3 == 2)
                w.busy(static_cast<int>(random() % 5000));
            else
                w.runMicros(static_cast<int>(random() % 30000));
        }
        add("noise-with-random-parity", w);
    }
    {
        Writer w;
        for (int page = 100; page < 110; ++page)
            w.request(page);
        w.busy(50000).runMillis(100);
        add("ten-requests-while-busy", w);
    }
    return seeds;
}

Corpus stateMachineSeeds()
{
    using namespace state_machine;
    Corpus seeds;
    const auto add = [&seeds](const std::string& name, const Writer& w) { seeds[name] = w.in.data; };

    add("clean-upload", Writer().loadGood(0).openUart().upload(1, 0, 5));
    add("open-first-then-load", Writer().openUart().request(1, 3).runMillis(70).loadGood(1).upload(1, 4, 2));
    add("short-file-while-uploading",
        Writer()
            .loadGood(0)
            .openUart()
            .upload(1, 0, 2)
            .readingTime(1000)
            .request(1, 7)
            .loadWrongLength()
            .request(1, 8)
            .runMillis(70));
    add("unreadable-and-cancelled-files",
        Writer().loadGood(2).openUart().upload(1, 0, 2).loadUnreadable().loadCancelled().upload(1, 2, 2));
    add("new-image-in-the-middle", Writer().loadGood(0).openUart().upload(1, 0, 3).loadGood(1).upload(1, 3, 3));
    add("picks-open-and-closed",
        Writer()
            .pickPort(1)
            .pickPort(2)
            .openUart()
            .pickPort(0)
            .openUart()
            .pickPort(0)
            .pickPort(1)
            .pickPort(0)
            .openUart()
            .loadGood(0)
            .upload(1, 0, 2));
    add("upload-on-com3", Writer().pickPort(2).loadGood(1).openUart().upload(3, 50, 3).request(1, 9).runMillis(70));
    add("held-port-then-released",
        Writer(Com2Held).pickPort(1).openUart().held(2, false).openUart().loadGood(0).upload(2, 0, 2));
    add("only-a-held-port-listed",
        Writer(Com1Absent | Com3Absent | Com2Held)
            .openUart()
            .reappear(1)
            .openUart()
            .held(2, false)
            .openUart()
            .loadGood(0)
            .upload(2, 0, 1));
    for (const int delay : {21500, 23000, 40000, 58000, 62000}) {
        add("vanish-" + std::to_string(delay) + "us-after-the-request",
            Writer()
                .loadGood(0)
                .openUart()
                .upload(1, 0, 1)
                .request(1, 5)
                .vanish(1, delay)
                .runMillis(300)
                .reappear(1)
                .openUart()
                .upload(1, 5, 2));
    }
    add("vanish-while-idle-then-open-fails",
        Writer()
            .loadGood(0)
            .openUart()
            .upload(1, 0, 1)
            .vanish(1)
            .runMillis(50)
            .openUart()
            .reappear(1)
            .openUart()
            .upload(1, 1, 1));
    add("stall-in-the-middle-of-a-page",
        Writer()
            .loadGood(0)
            .openUart()
            .readingTime(200)
            .request(1, 3)
            .stall(1, true, 30000)
            .runMillis(100)
            .stall(1, false)
            .openUart()
            .upload(1, 3, 1));
    add("stall-and-release-within-the-limit",
        Writer()
            .loadGood(0)
            .openUart()
            .request(1, 4)
            .stall(1, true, 25000)
            .stall(1, false, 60000)
            .runMillis(200)
            .upload(1, 5, 1));
    add("taken-by-another-program-during-a-page",
        Writer()
            .loadGood(0)
            .openUart()
            .request(1, 6)
            .held(1, true, 20500)
            .runMillis(200)
            .held(1, false)
            .openUart()
            .upload(1, 6, 1));
    add("no-permission-and-no-mark-space",
        Writer()
            .denied(1, true)
            .openUart()
            .denied(1, false)
            .rejectsMarkSpace(1, true)
            .openUart()
            .rejectsMarkSpace(1, false)
            .openUart()
            .loadGood(0)
            .upload(1, 0, 1));
    add("com1-cannot-do-mark-space",
        Writer(Com1RejectsMarkSpace).openUart().pickPort(1).openUart().loadGood(1).upload(2, 9, 1));
    add("closed-before-the-tick",
        Writer().loadGood(0).openUart().request(1, 9).runMicros(5000).openUart().runMillis(70).openUart().upload(
            1, 9, 1));
    add("requests-split-bunched-and-with-parity-errors",
        Writer()
            .loadGood(2)
            .openUart()
            .request(1, 10, Split, 2)
            .runMillis(70)
            .request(1, 11, Bunched)
            .runMillis(70)
            .request(1, 12, ParityError, 2)
            .runMillis(70)
            .request(1, 13, FirstAddendTooLarge)
            .runMillis(70)
            .request(1, 14, SecondAddendTooLarge | Split | Bunched, 5)
            .runMillis(70)
            .request(1, 15, Split | ParityError, 1)
            .runMillis(70));
    add("raw-bytes-and-busy-program",
        Writer()
            .loadGood(0)
            .openUart()
            .raw(1, {0x50, 0x47, 0x70, 0x6F})
            .busy(3000)
            .raw(1, {0x01, 0x02}, 0x00)
            .runMillis(70)
            .raw(1, {0x50, 0x47})
            .runMicros(300)
            .raw(1, {0x00, 0x00})
            .runMillis(70));
    add("device-on-another-port", Writer().loadGood(0).openUart().upload(2, 0, 2).upload(1, 0, 1));
    add("half-a-request-then-closed-and-reopened",
        Writer()
            .loadGood(0)
            .openUart()
            .raw(1, {0x50, 0x47})
            .runMillis(5)
            .openUart()
            .openUart()
            .raw(1, {0x05, 0x07, 0x50, 0x47})
            .runMillis(70)
            .openUart()
            .openUart()
            .raw(1, {0x50, 0x47})
            .runMillis(4)
            .vanish(1)
            .runMillis(5)
            .reappear(1)
            .openUart()
            .raw(1, {0x09, 0x50, 0x47, 0x00, 0x09})
            .runMillis(70));
    add("exit-is-ignored", Writer().loadGood(0).openUart().exit().upload(1, 0, 2));
    add("slow-message-over-a-failing-page",
        Writer()
            .loadGood(0)
            .openUart()
            .readingTime(2000)
            .request(1, 1)
            .vanish(1, 30000)
            .runMillis(100)
            .loadWrongLength()
            .reappear(1)
            .request(1, 2)
            .runMillis(70));
    return seeds;
}

void write(const fs::path& folder, const Corpus& seeds)
{
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(folder))
        fs::remove(entry.path());
    for (const auto& [name, data] : seeds) {
        std::ofstream file(folder / name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    std::printf("%zu seeds in %s\n", seeds.size(), folder.string().c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    write(root / "request_path", requestPathSeeds());
    write(root / "state_machine", stateMachineSeeds());
    return 0;
}
