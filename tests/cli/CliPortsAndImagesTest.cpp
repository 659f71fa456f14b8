// The real velmora-isp2-cli refusing what it cannot use: ports that are held
// or not there, and image files that are not an image for this device; and
// turning record files into the image an upload sends.
#include "image/Crc32.h"
#include "image/Sha256.h"
#include "tests/cli/CliFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordText.h"

#include <fcntl.h>

#include <nlohmann/json.hpp>

using namespace isp;
using namespace isp::test;

namespace {

class PosixCliPorts : public CliFixture {};
class CliImages : public CliFixture {
protected:
    int runToEnd(const std::vector<std::string>& arguments, std::unique_ptr<CliProcess>& process)
    {
        process = run(arguments);
        return awaitExit(*process);
    }
};

} // namespace

// Linux lets any number of programs open a tty; the line refuses one that
// another process has open, and the command line says who it is.
TEST_F(PosixCliPorts, APortHeldByAnotherProgramIsRefusedNamingIt)
{
    Child holder([device = pty.slavePath()] {
        return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? "holding" : "failed";
    });
    ASSERT_EQ(holder.report(), "holding");
    auto cli = run({"upload", pty.slavePath(), writeImage(ImageBytes{})});

    ASSERT_EQ(awaitExit(*cli), 6) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "held by pty-holder (process " + std::to_string(holder.pid()) + ")"))
        << cli->err();
    EXPECT_TRUE(contains(cli->err(), "Close the other program")) << cli->err();
}

TEST_F(PosixCliPorts, ADeviceThatIsNotThereIsPortMissing)
{
    auto cli = run({"upload", "/dev/ttyUSB-not-there", writeImage(ImageBytes{})});

    ASSERT_EQ(awaitExit(*cli), 4) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "Plug the adapter in")) << cli->err();
    // Named as given: it is in no list, so it has no COMn.
    EXPECT_TRUE(contains(cli->err(), "velmora-isp2-cli: /dev/ttyUSB-not-there is not present")) << cli->err();
    EXPECT_FALSE(contains(cli->err(), "COM")) << cli->err();
}

// The list numbers the system's ports as the window does; pseudo-terminals
// are not among them, so only the shape can be checked here.
TEST_F(PosixCliPorts, ListGivesEveryPortItsComNumberInJson)
{
    auto cli = run({"list", "--json"});
    ASSERT_EQ(awaitExit(*cli), 0) << cli->err();
    int expected = 1;
    for (const std::string& line : linesOf(cli->out())) {
        SCOPED_TRACE(line);
        const auto port = nlohmann::json::parse(line);
        EXPECT_EQ(port["schema"], 1);
        EXPECT_EQ(port["event"], "port");
        EXPECT_EQ(port["com"], expected++);
        EXPECT_TRUE(port["device"].is_string());
        EXPECT_TRUE(port["availability"] == "free" || port["availability"] == "held"
            || port["availability"] == "no-permission" || port["availability"] == "missing");
    }
}

TEST_F(CliImages, RecordFilesWithGapsBecomeTheImageFilledWith0xFF)
{
    const Bytes first{0x0C, 0x94, 0x34, 0x00};
    const Bytes last{0xDE, 0xAD};
    // Page 0 starts with `first`; the last two bytes of the flash are `last`;
    // everything between is a gap.
    const std::string hex = hexRecord(0, 0x0000, first) + hexRecord(0, 0x6FFE, last) + hexRecord(1, 0, {});
    const std::string srec =
        sRecord(0, 0, {}) + sRecord(1, 0x0000, first) + sRecord(1, 0x6FFE, last) + sRecord(9, 0, {});
    ImageBytes expected{};
    expected.fill(0xFF);
    std::copy(first.begin(), first.end(), expected.begin());
    std::copy(last.begin(), last.end(), expected.end() - 2);

    for (const auto& [name, text] : {std::pair{"gaps.hex", hex}, std::pair{"gaps.s19", srec}}) {
        SCOPED_TRACE(name);
        writeFile(folder / name, text);
        const std::string out = folder / (std::string(name) + ".bin");
        std::unique_ptr<CliProcess> cli;
        ASSERT_EQ(runToEnd({"convert", folder / name, out}, cli), 0) << cli->err();
        EXPECT_EQ(readFile(out), std::string(expected.begin(), expected.end()));

        ASSERT_EQ(runToEnd({"info", folder / name, "--json"}, cli), 0) << cli->err();
        const auto info = nlohmann::json::parse(cli->out());
        EXPECT_EQ(info["event"], "image");
        EXPECT_EQ(info["crc32"], crc32Hex(expected));
        EXPECT_EQ(info["sha256"], sha256Hex(expected));
        EXPECT_EQ(info["erased_pages"], PageCount - 2);
        EXPECT_EQ(info["size"], ImageSize);
    }
}

TEST_F(CliImages, ImagesNotForThisDeviceAreRefusedWithStatus3AndWhy)
{
    std::string badChecksum = hexRecord(0, 0x0100, {1, 2, 3});
    badChecksum[badChecksum.size() - 2] = badChecksum[badChecksum.size() - 2] == '0' ? '1' : '0';
    struct Case {
        const char* name;
        std::string contents;
        std::string said; // part of the reason
    };
    const Case cases[] = {
        {"beyond.hex", hexRecord(0, 0x0000, {1}) + hexRecord(0, 0x7000, {2}) + hexRecord(1, 0, {}), "line 2"},
        {"overlap.hex", hexRecord(0, 0x0010, {1, 2, 3, 4}) + hexRecord(0, 0x0012, {9}) + hexRecord(1, 0, {}), "line 2"},
        {"checksum.hex", hexRecord(0, 0x0000, {1}) + badChecksum + hexRecord(1, 0, {}), "line 2"},
        {"beyond.s19", sRecord(1, 0x6FFF, {1, 2}) + sRecord(9, 0, {}), "line 1"},
        {"page.bin", "<!DOCTYPE html>\n<html><head><title>firmware.bin</title></head><body></body></html>\n",
            "web page"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(folder / c.name, c.contents);
        std::unique_ptr<CliProcess> cli;
        EXPECT_EQ(runToEnd({"convert", folder / c.name, folder / "out.bin"}, cli), 3) << cli->err();
        EXPECT_TRUE(contains(cli->err(), c.said)) << cli->err();
        EXPECT_TRUE(cli->out().empty()) << cli->out();
    }
    // An upload refuses it before it touches the port.
    std::unique_ptr<CliProcess> cli;
    EXPECT_EQ(runToEnd({"upload", port.argument(), folder / "page.bin"}, cli), 3) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "web page")) << cli->err();
    EXPECT_FALSE(contains(cli->err(), "waiting for")) << cli->err();
}

TEST_F(CliImages, ConvertNeverOverwritesItsInputWritesToStdoutAndSaysWhyItCannotWrite)
{
    const std::string hex = hexRecord(0, 0x0000, {0x0C, 0x94}) + hexRecord(1, 0, {});
    writeFile(folder / "app.hex", hex);
    std::unique_ptr<CliProcess> cli;
    EXPECT_EQ(runToEnd({"convert", folder / "app.hex", folder / "app.hex"}, cli), 2) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "convert never overwrites its input")) << cli->err();
    EXPECT_EQ(readFile(folder / "app.hex"), hex);

    ASSERT_EQ(runToEnd({"convert", folder / "app.hex", "-"}, cli), 0) << cli->err();
    ASSERT_EQ(cli->out().size(), static_cast<std::size_t>(ImageSize));
    EXPECT_EQ(cli->out().substr(0, 3), "\x0C\x94\xFF");
    EXPECT_TRUE(contains(cli->err(), "wrote stdout: 28672 bytes")) << cli->err();

    EXPECT_EQ(runToEnd({"convert", folder / "app.hex", folder / "no-such-folder/app.bin"}, cli), 1) << cli->err();
    EXPECT_TRUE(contains(cli->err(), "app.bin: No such file or directory")) << cli->err();

    // An image of nothing but 0xFF is taken, with a warning.
    writeFile(folder / "blank.bin", std::string(ImageSize, '\xFF'));
    ASSERT_EQ(runToEnd({"info", "--json", folder / "blank.bin"}, cli), 0) << cli->err();
    EXPECT_EQ(nlohmann::json::parse(cli->out())["warnings"].size(), 1u) << cli->out();
}

// Names as a user types them, whatever the system: letters beyond ASCII in a
// file name (under Wine, passed to the Windows program in UTF-16), and on
// Windows COM numbers beyond 255.
TEST_F(CliImages, AFileNameBeyondAsciiIsTakenAndToldBackAsTyped)
{
    const std::string hex = hexRecord(0, 0x0000, {0x0C, 0x94}) + hexRecord(1, 0, {});
    const std::string name = folder / "Jürgen прошивка.hex";
    writeFile(name, hex);
    std::unique_ptr<CliProcess> cli;
    ASSERT_EQ(runToEnd({"info", name}, cli), 0) << cli->err();
    EXPECT_TRUE(contains(cli->out(), "Jürgen прошивка.hex (")) << cli->out();
    EXPECT_TRUE(contains(cli->out(), "format:        Intel HEX")) << cli->out();
}

TEST_F(CliImages, OnWindowsCom300IsCom300AndANumberBeyondWindowsOnesIsRefusedAsTyped)
{
    if (!cli.underWine)
        GTEST_SKIP() << "COMn beyond 255 is a Windows name; run under Wine (tests/cli/CliUnderTest.h)";
    const PortName high(wineComPortFor(pty.slavePath(), "300"));
    std::unique_ptr<CliProcess> run;
    // COM300 opens (its number not taken modulo 256): no request comes in time.
    EXPECT_EQ(runToEnd({"upload", "COM300", writeImage(ImageBytes{}), "--first-request-timeout", "0.3"}, run), 7)
        << run->err();
    EXPECT_TRUE(contains(run->err(), "waiting for the device on COM300...")) << run->err();
    EXPECT_EQ(runToEnd({"upload", "com5000", writeImage(ImageBytes{})}, run), 2) << run->err();
    EXPECT_TRUE(contains(run->err(), "PORT com5000 is no COM port name")) << run->err();
}
