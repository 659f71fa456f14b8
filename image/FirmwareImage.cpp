#include "image/FirmwareImage.h"

#include "image/BoundedFile.h"
#include "image/ImageFacts.h"
#include "image/IntelHex.h"
#include "image/SRecord.h"

#include <algorithm>

namespace isp {
namespace {

ImageReadResult refused(ImageReadResult result, std::string reason)
{
    result.outcome = ImageReadResult::Outcome::Refused;
    result.reason = std::move(reason);
    return result;
}

std::string withUnit(std::uintmax_t length)
{
    if (length % (1U << 20) == 0)
        return std::to_string(length >> 20) + " MiB";
    return std::to_string(length >> 10) + " KiB";
}

// Flash comes in powers of two; a raw file of such a size was most likely
// made for a device with that much flash, or is a dump of a whole one,
// boot loader included.
std::string lengthReason(std::uintmax_t length)
{
    if (length == 0)
        return "the file is empty";
    const std::string size = std::to_string(length);
    if (length >= 1024 && (length & (length - 1)) == 0) {
        return "the file is " + size + " bytes long: this looks like an image for a device with " + size + " bytes ("
            + withUnit(length) + ") of flash; this device takes " + std::to_string(ImageSize);
    }
    return "the file is " + size + " bytes long; a raw image is exactly " + std::to_string(ImageSize) + " bytes";
}

// A record file may be valid at any length (one that writes the same byte
// ten million times is), so the limit is this program's, and said so.
std::string tooLongReason(std::uintmax_t length)
{
    return "the file is " + std::to_string(length) + " bytes long, and this program reads image files of at most "
        + withUnit(MaxImageFileLength) + " (" + std::to_string(MaxImageFileLength)
        + " bytes): records of the whole image take less than half of that, so a longer file writes bytes more than "
          "once, or holds something else; have the build write each byte once";
}

ImageReadResult fromRecords(ImageReadResult result, const RecordParseResult& records)
{
    if (!records.ok) {
        result.line = records.line;
        result.address = records.address;
        return refused(std::move(result), records.reason);
    }
    result.outcome = ImageReadResult::Outcome::Read;
    result.bytes = records.bytes;
    return result;
}

ImageReadResult parseContents(std::span<const std::uint8_t> contents, std::string_view fileName)
{
    const std::string_view text(reinterpret_cast<const char*>(contents.data()), contents.size());
    ImageReadResult result;
    result.length = contents.size();
    result.format = detectFormat(text);
    // Text of exactly the image's size is taken for the raw image it may
    // well be, as the window would take it.
    if (result.format == ImageFormat::Unknown && contents.size() == static_cast<std::size_t>(ImageSize))
        result.format = ImageFormat::Binary;

    // Read by what the contents are, whatever the name says: a HEX file is
    // never a valid raw image or the reverse, so the contents leave no doubt,
    // and refusing would only make the user rename the file. A name that
    // says otherwise is still worth a word: the build may have written
    // another format than the one meant, or the file may be another one
    // than the user thinks.
    const std::optional<ImageFormat> named = formatByName(fileName);
    const bool image = result.format == ImageFormat::Binary || result.format == ImageFormat::IntelHex
        || result.format == ImageFormat::SRecord;
    if (image && named && *named != result.format) {
        const std::size_t dot = fileName.rfind('.');
        result.warnings.push_back("the name ends in " + std::string(fileName.substr(dot)) + ", but the contents are "
            + formatName(result.format));
    }

    switch (result.format) {
    case ImageFormat::IntelHex: return fromRecords(std::move(result), parseIntelHex(withoutByteOrderMark(text)));
    case ImageFormat::SRecord: return fromRecords(std::move(result), parseSRecord(withoutByteOrderMark(text)));
    case ImageFormat::Elf:
        return refused(std::move(result),
            "this is an ELF file, a program as the linker wrote it, not a flash image; convert it first, for example "
            "with objcopy -O ihex firmware.elf firmware.hex, or objcopy -O binary --gap-fill 0xFF --pad-to 0x7000 "
            "firmware.elf firmware.bin");
    case ImageFormat::WebPage:
        return refused(std::move(result),
            "this is a web page (HTML), not a firmware image: the page was saved in place of the file it links to; "
            "download the file itself (on a code-hosting site, through its \"Raw\" or \"Download\" link)");
    case ImageFormat::Unknown:
        return refused(std::move(result),
            "the file is text, but neither Intel HEX (lines starting with ':') nor Motorola S-records (lines "
            "starting with 'S0' to 'S9'), and not a raw image of "
                + std::to_string(ImageSize) + " bytes");
    case ImageFormat::Binary: break;
    }

    if (contents.size() != static_cast<std::size_t>(ImageSize))
        return refused(std::move(result), lengthReason(contents.size()));
    std::copy(contents.begin(), contents.end(), result.bytes.begin());
    result.outcome = ImageReadResult::Outcome::Read;
    return result;
}

} // namespace

ImageReadResult parseFirmwareImage(std::span<const std::uint8_t> contents, std::string_view fileName)
{
    ImageReadResult result = parseContents(contents, fileName);
    // Erased flash is a valid image, but hardly the one meant: an empty
    // build, or the wrong file.
    if (result.ok() && erasedPageCount(result.bytes) == PageCount)
        result.warnings.emplace_back(AllErasedWarning);
    return result;
}

ImageReadResult readFirmwareImage(const std::string& path)
{
    const FileReadResult file = readBoundedFile(path, MaxImageFileLength);
    ImageReadResult result;
    result.length = file.length;
    switch (file.outcome) {
    case FileReadResult::Outcome::Unreadable: result.reason = file.reason; return result;
    case FileReadResult::Outcome::TooLarge:
        return refused(std::move(result),
            (file.length & (file.length - 1)) == 0 ? lengthReason(file.length) : tooLongReason(file.length));
    case FileReadResult::Outcome::Read: break;
    }
    return parseFirmwareImage(file.bytes, path);
}

} // namespace isp
