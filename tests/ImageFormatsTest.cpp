// Intel HEX and S-record files written by hand, to reach each refusal and
// each liberty the formats allow; telling formats apart; reading from disk.
#include "image/FirmwareImage.h"
#include "image/ImageFacts.h"
#include "tests/support/RecordText.h"
#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sys/stat.h>

using namespace isp;
using namespace isp::test;

namespace {

ImageReadResult parse(const std::string& text, std::string_view name = "firmware")
{
    return parseFirmwareImage(Bytes(text.begin(), text.end()), name);
}

// The hex digits in lower case; the record marks stay as they are.
std::string lowerDigits(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void expectSameImage(const std::string& plain, const std::vector<std::string>& variants)
{
    const ImageReadResult expected = parse(plain);
    for (const std::string& variant : variants) {
        const ImageReadResult result = parse(variant);
        ASSERT_TRUE(result.ok()) << variant << result.reason;
        EXPECT_TRUE(result.bytes == expected.bytes) << variant;
    }
}

struct Refusal {
    const char* what;
    std::string text;
    int line;
    std::optional<std::uint32_t> address;
    std::string reason; // the whole reason, or a part of it
};

void expectRefusals(const std::vector<Refusal>& cases)
{
    for (const Refusal& c : cases) {
        const ImageReadResult result = parse(c.text);
        EXPECT_EQ(result.outcome, ImageReadResult::Outcome::Refused) << c.what;
        EXPECT_EQ(result.line, c.line) << c.what;
        EXPECT_EQ(result.address, c.address) << c.what;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << c.what << ": " << result.reason;
    }
}

const std::string hexData = hexRecord(0, 0x0010, {1, 2, 3, 4});
const std::string hexEnd = hexRecord(1, 0, {});
const std::string sData = sRecord(1, 0x0010, {1, 2, 3, 4});
const std::string sEnd = sRecord(9, 0, {});

} // namespace

TEST(IntelHex, WhatTheFormatAllowsLeavesTheImageAsItIs)
{
    const std::string plain = hexRecord(4, 0, {0, 0}) + hexRecord(0, 0x0100, {0xDE, 0xAD, 0xBE, 0xEF})
        + hexRecord(2, 0, {0x06, 0x00}) + hexRecord(0, 0x0FFE, {0x11, 0x22}) + hexEnd;
    const ImageReadResult result = parse(plain);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(result.bytes[0x0100], 0xDE);
    EXPECT_EQ(result.bytes[0x6FFF], 0x22); // 0x6000 + 0x0FFE + 1: the last byte of the image
    EXPECT_EQ(std::count(result.bytes.begin(), result.bytes.end(), 0xFF), ImageSize - 6);
    EXPECT_EQ(erasedPageCount(result.bytes), PageCount - 2);

    const std::string start = hexRecord(3, 0, {0, 0, 1, 0}) + hexRecord(5, 0, {0, 0, 1, 0});
    expectSameImage(plain,
        {std::regex_replace(plain, std::regex("\n"), "\r\n"), lowerDigits(plain), plain + "\n\r\n  \n\x1A",
            "\xEF\xBB\xBF" + plain, start + plain, hexRecord(0, 0x0101, {0xAD, 0xBE}) + plain}); // the same bytes twice
}

TEST(IntelHex, RefusalsNameTheLineAndTheAddress)
{
    expectRefusals({
        {"no colon", hexData + hexData.substr(1) + hexEnd, 2, {}, "line 2: an Intel HEX record starts with ':'"},
        {"odd", ":0400100001020304E\n" + hexEnd, 1, {}, "odd number of hex digits"},
        {"not hex", ":04001000010G0304E2\n" + hexEnd, 1, {}, "line 1: 'G' in column 13 is not a hex digit"},
        {"too short", ":00000001\n" + hexEnd, 1, {}, "too short"},
        {"length", hexLine({5, 0, 0x10, 0, 1, 2, 3, 4}) + hexEnd, 1, {},
            "the length field says 5 data bytes, but the record holds 4"},
        {"type", hexRecord(6, 0, {}) + hexEnd, 1, {}, "unknown record type 0x06"},
        {"type length", hexRecord(4, 0, {0, 0, 0}) + hexEnd, 1, {}, "a type 0x04 record carries 2 bytes, not 3"},
        {"range", hexRecord(0, 0x7000, {1}) + hexEnd, 1, 0x7000,
            "line 1: the data at 0x7000..0x7000 does not fit in the image, which covers 0x0000..0x6FFF"},
        {"conflict", hexData + hexRecord(0, 0x0012, {3, 9}) + hexEnd, 2, 0x0013,
            "line 2: the byte at 0x0013 is 0x09 here, but line 1 set it to 0x04"},
        {"after end", hexData + hexEnd + hexData, 3, {}, "line 3: a record after the end-of-file record on line 2"},
        {"no end", hexData, 0, {}, "the file ends without an end-of-file record"},
        // Added up, as objcopy does, 0x1010; the last one set, as srec_cat
        // does, 0x0010.
        {"02 then 04", hexRecord(2, 0, {1, 0}) + hexRecord(4, 0, {0, 0}) + hexData + hexEnd, 3, 0x1010,
            "read this record's address differently: 0x1010 or 0x0010"},
    });
}

TEST(SRecord, WhatTheFormatAllowsLeavesTheImageAsItIs)
{
    const std::string data = sRecord(1, 0x0100, {0xDE}) + sRecord(2, 0x6FFF, {0x22}) + sRecord(3, 0x0200, {0x33});
    const std::string plain = sRecord(0, 0, {'h', 'i'}) + data + sRecord(5, 3, {}) + sRecord(9, 0x0100, {});
    const ImageReadResult result = parse(plain);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(result.bytes[0x0100], 0xDE);
    EXPECT_EQ(result.bytes[0x6FFF], 0x22);
    EXPECT_EQ(result.bytes[0x0200], 0x33);
    EXPECT_EQ(std::count(result.bytes.begin(), result.bytes.end(), 0xFF), ImageSize - 3);

    // Line ends and letter case as for Intel HEX: the two share that code.
    expectSameImage(
        plain, {data + sRecord(6, 3, {}) + sRecord(8, 0, {}), sRecord(5, 0, {}) + data + sRecord(7, 0, {})});
}

// What the two formats share (range, overlaps, line ends) is checked once,
// with Intel HEX.
TEST(SRecord, RefusalsNameTheLineAndTheAddress)
{
    expectRefusals({
        {"no S", sData + sData.substr(1) + sEnd, 2, {}, "line 2: an S-record starts with 'S'"},
        {"S4", "S4" + sData.substr(2) + sEnd, 1, {}, "unknown record type 'S4'"},
        {"not hex", "S1070010010203x4DD\n" + sEnd, 1, {}, "'x' in column 15 is not a hex digit"},
        {"count", "S108" + sData.substr(4) + sEnd, 1, {},
            "the count field says 8 bytes follow, but the record holds 7"},
        {"too short", "S10100FE\n" + sEnd, 1, {}, "too short"},
        {"end of memory", sRecord(3, 0xFFFFFFFF, {1, 2}) + sEnd, 1, 0xFFFFFFFF, "0xFFFFFFFF..0x100000000"},
        {"S5 count", sData + sData + sRecord(5, 1, {}) + sEnd, 3, {},
            "line 3: the count record says 1 data records came before it, but there were 2"},
        {"S6 count", sData + sRecord(6, 0x010001, {}) + sEnd, 2, {}, "says 65537 data records"},
        {"end with data", sData + sRecord(9, 0, {1}), 2, {}, "an S9 record carries no data"},
        {"after end", sData + sEnd + sData, 3, {}, "line 3: a record after the termination record on line 2"},
        {"no end", sData, 0, {}, "the file ends without a termination record"},
        {"not counted to the end", sRecord(5, 0, {}) + sData, 0, {}, "the file ends without a termination record"},
    });
}

TEST(FirmwareImage, TheContentsDecideTheFormatAndTheNameOnlyWarns)
{
    Bytes raw(ImageSize, 0xFF);
    raw[ImageSize - 1] = 0x5A;
    ImageReadResult result = parseFirmwareImage(raw, "dir.hex/app.bin");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.format, ImageFormat::Binary);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), result.bytes.begin()));
    EXPECT_TRUE(result.warnings.empty());

    result = parse(hexData + hexEnd, "APP.BIN");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.format, ImageFormat::IntelHex);
    EXPECT_EQ(result.warnings, std::vector<std::string>{"the name ends in .BIN, but the contents are Intel HEX"});
    EXPECT_EQ(parseFirmwareImage(raw, "app.s19").warnings,
        std::vector<std::string>{"the name ends in .s19, but the contents are raw binary"});
}

TEST(FirmwareImage, WhatIsPlainlyNoImageIsToldForWhatItIs)
{
    std::string elf(4096, '\0'); // the start of this test program
    std::ifstream("/proc/self/exe", std::ios::binary).read(elf.data(), std::ssize(elf));
    const std::string page = "\n\n<!DOCTYPE html>\n<html lang=\"en\"><head><title>firmware.bin</title></head>\n"
        + std::string(30000, ' ') + "</html>\n";
    struct Case {
        std::string contents;
        ImageFormat format;
        std::string reason;
    };
    for (const Case& c : {
             Case{page, ImageFormat::WebPage, "this is a web page (HTML), not a firmware image"},
             Case{"<HTML><BODY>404 Not Found</BODY></HTML>", ImageFormat::WebPage, "this is a web page"},
             Case{elf, ImageFormat::Elf, "convert it first, for example with objcopy -O ihex"},
             Case{std::string(32768, '\xFF'), ImageFormat::Binary,
                 "the file is 32768 bytes long: this looks like an image for a device with 32768 bytes (32 KiB) of "
                 "flash; this device takes 28672"},
             Case{std::string(28673, '\0'), ImageFormat::Binary,
                 "the file is 28673 bytes long; a raw image is exactly 28672 bytes"},
             Case{"", ImageFormat::Binary, "the file is empty"},
             Case{"Release notes\n", ImageFormat::Unknown, "the file is text, but neither Intel HEX"},
         }) {
        const ImageReadResult result = parse(c.contents, "firmware.bin");
        EXPECT_EQ(result.outcome, ImageReadResult::Outcome::Refused) << c.reason;
        EXPECT_EQ(result.format, c.format) << c.reason;
        EXPECT_EQ(result.length, c.contents.size()) << c.reason;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
    }
}

// A record file is never sent as a raw image, whatever its length and
// whatever spoils its first bytes: each of these is exactly 28672 bytes (or
// short), and each is read as records and refused at the line at fault.
TEST(FirmwareImage, RecordsNearTheStartMakeARecordFileWhateverItsLength)
{
    const auto paddedToImageSize = [](std::string text) {
        text.resize(ImageSize, '\n');
        return text;
    };
    std::string strayNul = paddedToImageSize(hexData + hexEnd);
    strayNul[5] = '\0'; // ":0400" then NUL: the reproducer of a raw-looking HEX file
    std::string shortStray = hexData + hexEnd;
    shortStray[5] = '\x80';
    std::string sStray = paddedToImageSize(sData + sEnd);
    sStray[3] = '\xFF';
    std::string crOnly = hexData + hexEnd;
    std::replace(crOnly.begin(), crOnly.end(), '\n', '\r');
    expectRefusals({
        {"NUL in the first record", strayNul, 1, {}, "line 1: the byte 0x00 in column 6 is not a hex digit"},
        {"a comment line first", paddedToImageSize("; written by the build\n" + hexData + hexEnd), 1, {},
            "line 1: an Intel HEX record starts with ':'"},
        {"a stray byte in a short file", shortStray, 1, {}, "line 1: the byte 0x80 in column 6 is not a hex digit"},
        {"a stray byte in S-records", sStray, 1, {}, "line 1: the byte 0xFF in column 4 is not a hex digit"},
        {"CR line ends", crOnly, 1, {}, "line 1: a CR in column 20 ends the record without a LF"},
    });
    EXPECT_EQ(parse(strayNul).format, ImageFormat::IntelHex);
    EXPECT_EQ(parse(sStray).format, ImageFormat::SRecord);

    // Record-like text in a raw image: a whole record beyond the first
    // 4 KiB, or a broken one near the start, leaves the image raw.
    Bytes raw(ImageSize, 0x0C);
    const std::string late = "\n" + hexEnd;
    std::copy(late.begin(), late.end(), raw.begin() + 8000);
    const std::string broken = "\n:0400100001\x94";
    std::copy(broken.begin(), broken.end(), raw.begin() + 10);
    const ImageReadResult rawResult = parseFirmwareImage(raw, "app.bin");
    ASSERT_TRUE(rawResult.ok()) << rawResult.reason;
    EXPECT_EQ(rawResult.format, ImageFormat::Binary);
}

TEST(FirmwareImage, AFileThatWritesNothingIsRefusedAndErasedFlashWarned)
{
    expectRefusals({
        {"HEX end record alone", ":00000001FF\n", 0, {}, "the file has no data records"},
        {"S0 and S9 alone", "S0030000FC\nS9030000FC\n", 0, {}, "the file has no data records"},
    });
    const ImageReadResult erased = parseFirmwareImage(Bytes(ImageSize, 0xFF), "blank.bin");
    ASSERT_TRUE(erased.ok());
    EXPECT_EQ(erased.warnings, std::vector<std::string>{AllErasedWarning});
}

TEST(FirmwareImage, ReadsOnlyRegularFilesAndNoneOverTheLimit)
{
    ScratchFolder folder;
    writeFile(folder / "Prüfstand.hex", hexData + hexEnd);
    const ImageReadResult hex = readFirmwareImage(folder / "Prüfstand.hex");
    ASSERT_TRUE(hex.ok()) << hex.reason;
    EXPECT_EQ(hex.bytes[0x0013], 4);

    // Sparse: gigabytes that take no disk, and would take long to read.
    const std::string huge = folder / "huge.bin";
    writeFile(huge, std::string());
    std::filesystem::resize_file(huge, std::uintmax_t{5} << 30);
    const ImageReadResult tooLarge = readFirmwareImage(huge);
    EXPECT_EQ(tooLarge.length, std::uintmax_t{5} << 30);
    // Truthful: a record file that long may be valid, the limit is ours.
    EXPECT_EQ(tooLarge.reason,
        "the file is 5368709120 bytes long, and this program reads image files of at most 4 MiB (4194304 bytes): "
        "records of the whole image take less than half of that, so a longer file writes bytes more than once, or "
        "holds something else; have the build write each byte once");

    const std::string fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "folder.hex");
    for (const auto& [path, reason] : std::vector<std::pair<std::string, std::string>>{
             {folder / "missing.hex", "the file does not exist"},
             {folder / "folder.hex", "the name is a folder, not a file"},
             {fifo, "the name is not a regular file"}, // no writer: must not block
             {"/dev/zero", "the name is not a regular file"},
         }) {
        const ImageReadResult result = readFirmwareImage(path);
        EXPECT_EQ(result.outcome, ImageReadResult::Outcome::Unreadable) << path;
        EXPECT_EQ(result.reason, reason) << path;
    }
}
