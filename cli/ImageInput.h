#pragma once

#include "cli/RunFacts.h"
#include "cli/UploadEvents.h"
#include "image/ImageLayout.h"

#include <optional>
#include <string>
#include <vector>

// The IMAGE of the command line: a raw image of exactly 28672 bytes, or an
// Intel HEX or S-record file (image/FirmwareImage.h), with the facts the
// reports show about it. Unlike the window, the command line takes record
// files: the image it sends is the one `convert` writes.
namespace isp::cli {

struct ImageInput {
    ImageBytes bytes{};
    ImageFacts facts; // its warnings too
};

struct ImageChoice {
    std::optional<ImageInput> image; // when the file holds an image for this device
    Failure refusal;                 // otherwise: why not (ExitStatus::ImageRefused)
};

ImageChoice readImageInput(const std::string& path);

// The facts of image bytes: CRC-32, SHA-256, erased pages.
ImageFacts factsOf(const ImageBytes& bytes, const std::string& file, const std::string& format);

} // namespace isp::cli
