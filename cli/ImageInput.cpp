#include "cli/ImageInput.h"

#include "image/Crc32.h"
#include "image/FirmwareImage.h"
#include "image/ImageFacts.h"
#include "image/Sha256.h"

namespace isp::cli {

ImageFacts factsOf(const ImageBytes& bytes, const std::string& file, const std::string& format)
{
    return {file, format, crc32Hex(bytes), sha256Hex(bytes), erasedPageCount(bytes), 0, {}};
}

ImageChoice readImageInput(const std::string& path)
{
    ImageReadResult read = readFirmwareImage(path);
    ImageChoice choice;
    switch (read.outcome) {
    case ImageReadResult::Outcome::Read:
        choice.image = ImageInput{read.bytes, factsOf(read.bytes, path, formatName(read.format))};
        choice.image->facts.fileLength = read.length;
        choice.image->facts.warnings = std::move(read.warnings);
        return choice;
    case ImageReadResult::Outcome::Unreadable:
        choice.refusal = {ExitStatus::ImageRefused, "Cannot read " + path + ": " + read.reason,
            "Check the name of the image file.", 0, 0};
        return choice;
    case ImageReadResult::Outcome::Refused: break;
    }
    // A record file's format helps to place the line; the reason names what
    // anything else looks like.
    std::string what = path;
    if (read.format == ImageFormat::IntelHex || read.format == ImageFormat::SRecord)
        what += std::string(" (") + formatName(read.format) + ")";
    std::string advice = "Give the image made for this device: " + std::to_string(ImageSize)
        + " bytes raw, or Intel HEX or S-records within 0x0000-0x6FFF.";
    if (read.line > 0)
        advice = "Correct the file, or have the build write it again.";
    choice.refusal = {ExitStatus::ImageRefused, "Cannot use " + what + ": " + read.reason, std::move(advice), 0, 0};
    return choice;
}

} // namespace isp::cli
