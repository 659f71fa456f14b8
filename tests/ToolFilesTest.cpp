// Record files as srec_cat (SRecord) and objcopy (binutils) write them, read
// here and by srec_cat: the two readings must give the same image; and what
// the tools write out of range, damaged or overlapping must be refused at
// the right line and address.
#include "image/FirmwareImage.h"
#include "tests/support/RecordText.h"
#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace isp;
using namespace isp::test;

namespace {

// Random data with blank stretches, so that the tools write records with
// gaps between them, and with 0xFF bytes inside the data, as firmware has.
Bytes randomImage(std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes image(ImageSize);
    for (std::size_t at = 0; at < image.size();) {
        const std::size_t run = std::min<std::size_t>(image.size() - at, random() % 600 + 1);
        const bool blank = random() % 3 == 0;
        for (std::size_t i = 0; i < run; ++i)
            image[at + i] = blank ? 0xFF : static_cast<std::uint8_t>(random() % 0x120); // 0xFF about 1 in 9
        at += run;
    }
    return image;
}

ImageReadResult parse(const std::string& text)
{
    return parseFirmwareImage(Bytes(text.begin(), text.end()), "made");
}

Bytes bytesOf(const ImageReadResult& result)
{
    return {result.bytes.begin(), result.bytes.end()};
}

class ToolFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!hasProgram("srec_cat") || !hasProgram("objcopy"))
            GTEST_SKIP() << "srec_cat (package srecord) or objcopy (binutils) is not installed";
        gapsHex = make(gaps + "-intel");
        writeFile(folder / "gaps.hex", gapsHex);
    }

    // Runs a tool command in the scratch folder, where image.bin holds the
    // image and gaps.hex the image as srec_cat's Intel HEX with gaps; the
    // text of made.txt, which the command writes.
    std::string make(const std::string& command)
    {
        writeFile(folder / "image.bin", image);
        EXPECT_EQ(runFails("cd '" + (folder / "") + "' && " + command, folder), "");
        return readFile(folder / "made.txt");
    }

    // The image srec_cat reads from a record file, 0xFF where no record
    // writes.
    Bytes srecCatReads(const std::string& text, ImageFormat format)
    {
        writeFile(folder / "read.txt", text);
        const char* input = format == ImageFormat::IntelHex ? "read.txt -intel" : "read.txt";
        const std::string read = make(std::string("srec_cat ") + input + " -fill 0xFF 0 0x7000 -o made.txt -binary");
        return {read.begin(), read.end()};
    }

    void expectReadAsSrecCatReads(const std::string& text, ImageFormat format, const std::string& what)
    {
        const ImageReadResult result = parse(text);
        ASSERT_TRUE(result.ok()) << what << ": " << result.reason;
        EXPECT_EQ(result.format, format) << what;
        const Bytes srecCat = srecCatReads(text, format);
        ASSERT_EQ(srecCat, image) << what << ": srec_cat reads another image than the file was made of";
        EXPECT_EQ(bytesOf(result), srecCat) << what;
    }

    ScratchFolder folder;
    Bytes image = randomImage(2024);
    const std::string gaps = "srec_cat image.bin -binary -unfill 0xFF 8 -o made.txt ";
    std::string gapsHex;
};

} // namespace

TEST_F(ToolFiles, EveryRecordTheToolsWriteReadsAsSrecCatReadsIt)
{
    const auto hex = ImageFormat::IntelHex;
    const auto srec = ImageFormat::SRecord;
    for (const auto& [command, format] : std::vector<std::pair<std::string, ImageFormat>>{
             {gaps + "-intel", hex},                                                            // 04
             {gaps + "-intel -address-length=3 -Execution_Start_Address 0x0123", hex},          // 02, 03
             {gaps + "-intel -Execution_Start_Address 0x0123 -Output_Block_Size 7 -CRLF", hex}, // 04, 05
             {gaps + "-intel -address-length=2 -Output_Block_Size 255", hex},
             {"objcopy -I ihex -O ihex gaps.hex made.txt", hex},
             {gaps + "-motorola", srec}, // S0, S1, S5 and no termination
             {gaps + "-motorola -address-length=3 -Output_Block_Size 1 -Execution_Start_Address 0x0123", srec}, // S8
             {gaps + "-motorola -address-length=4 -CRLF -Execution_Start_Address 0x0123", srec}, // S3, S7
             {"objcopy -I ihex -O srec gaps.hex made.txt", srec},                                // S9
             {"objcopy -I ihex -O srec --srec-forceS3 --srec-len 7 gaps.hex made.txt", srec},
         }) {
        expectReadAsSrecCatReads(make(command), format, command);
    }
}

// The tools write type 02 records only above 64 KiB, out of the image's
// range; here every data record is reached from a segment chosen at random.
// Likewise S-records that mix address lengths, with counts along the way.
TEST_F(ToolFiles, SegmentsAndMixedAddressLengthsReadAsSrecCatReadsThem)
{
    std::mt19937 random(5);
    std::string hex;
    std::string srec = sRecord(0, 0, {'H', 'D', 'R'});
    int dataRecords = 0;
    for (std::uint32_t address = 0; address < ImageSize; address += 16) {
        const Bytes data(image.begin() + address, image.begin() + address + 16);
        if (std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0xFF; }))
            continue;
        const std::uint32_t segment = (address >> 4) - random() % std::min((address >> 4) + 1, 0xF00U);
        hex += hexRecord(2, 0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)})
            + hexRecord(0, static_cast<std::uint16_t>(address - segment * 16), data);
        srec += sRecord(static_cast<int>(random() % 3) + 1, address, data);
        if (++dataRecords % 50 == 0)
            srec += sRecord(5, dataRecords, {});
    }
    expectReadAsSrecCatReads(hex + hexRecord(1, 0, {}), ImageFormat::IntelHex, "segments");
    expectReadAsSrecCatReads(srec + sRecord(6, dataRecords, {}) + sRecord(9, 0, {}), ImageFormat::SRecord, "S1-S3");
}

TEST_F(ToolFiles, DataOutsideTheImageIsRefusedAtItsLineAndAddress)
{
    struct Outside {
        const char* command;
        int line;
        std::uint32_t address;
        const char* reason;
    };
    for (const Outside& c : {
             Outside{"objcopy -I binary -O ihex --change-addresses 0x10000 image.bin made.txt", 2, 0x10000,
                 "the data at 0x10000..0x1000F does not fit"}, // after a type 02 record
             Outside{"objcopy -I binary -O ihex --change-addresses 0x200000 image.bin made.txt", 2, 0x200000,
                 "the data at 0x200000..0x20000F does not fit"}, // after a type 04 record
         }) {
        const ImageReadResult result = parse(make(c.command));
        EXPECT_EQ(result.outcome, ImageReadResult::Outcome::Refused) << c.command;
        EXPECT_EQ(result.line, c.line) << c.command;
        EXPECT_EQ(result.address, c.address) << c.command;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << c.command << ": " << result.reason;
    }
}

TEST_F(ToolFiles, AChangedDigitIsRefusedAtItsLineAndAddress)
{
    for (const auto& [format, addressColumn] : {std::pair{"-intel", 3}, std::pair{"-motorola", 4}}) {
        std::string text = make(gaps + format);
        const auto lines = std::count(text.begin(), text.end(), '\n');
        std::size_t at = 0; // the start of the line in the middle
        for (auto line = 0; line < lines / 2; ++line)
            at = text.find('\n', at) + 1;
        const std::string record = text.substr(at, text.find_first_of("\r\n", at) - at);
        text[at + 12] = text[at + 12] == '0' ? '1' : '0'; // a data digit

        const ImageReadResult result = parse(text);
        EXPECT_EQ(result.outcome, ImageReadResult::Outcome::Refused) << format;
        EXPECT_EQ(result.line, lines / 2 + 1) << format;
        EXPECT_EQ(result.address, std::stoul(record.substr(addressColumn, 4), nullptr, 16)) << format;
        EXPECT_NE(result.reason.find("bad checksum"), std::string::npos) << format << ": " << result.reason;
        EXPECT_NE(result.reason.find("it says 0x" + record.substr(record.size() - 2)), std::string::npos)
            << format << ": " << result.reason;
    }
}

// Two HEX files joined, their records over the same addresses, one byte
// different: refused there, as srec_cat does.
TEST_F(ToolFiles, OverlappingRecordsMustAgree)
{
    const std::string first = gapsHex.substr(0, gapsHex.rfind(":00000001FF"));
    const auto changed = std::find_if(image.begin() + 0x3000, image.end(), [](std::uint8_t b) { return b < 0xFE; });
    *changed ^= 0x01; // still not 0xFF, so the records stay where they were
    const std::string joined = first + make(gaps + "-intel");
    const ImageReadResult result = parse(joined);
    EXPECT_EQ(result.outcome, ImageReadResult::Outcome::Refused);
    EXPECT_EQ(result.address, changed - image.begin());
    EXPECT_GT(result.line, std::count(first.begin(), first.end(), '\n'));
    writeFile(folder / "joined.hex", joined);
    EXPECT_NE(runFails("srec_cat '" + (folder / "joined.hex") + "' -intel -o /dev/null", folder), "")
        << "srec_cat finds no conflict";
}
