#include "cli/ImageCommands.h"

#include "cli/HumanReport.h"
#include "cli/ImageInput.h"
#include "cli/JsonReport.h"
#include "cli/Utf8Path.h"

#include <filesystem>
#include <fstream>

namespace isp::cli {
namespace {

void tellWarnings(const ImageInput& image, std::ostream& err)
{
    for (const std::string& warning : image.warnings)
        writeWarning(err, warning);
}

} // namespace

ExitStatus runInfo(const InfoOptions& options, Console& console)
{
    const ImageChoice choice = readImageInput(options.image);
    if (options.json) {
        JsonLines lines(console.out, SteadyClock::instance(), SteadyClock::instance().now());
        if (!choice.image) {
            lines.write("error", jsonOfFailure(choice.refusal));
            return choice.refusal.status;
        }
        nlohmann::ordered_json fields = jsonOfImage(choice.image->facts);
        fields["file_size"] = choice.image->facts.fileLength;
        fields["warnings"] = choice.image->warnings;
        lines.write("image", fields);
        return ExitStatus::Ok;
    }
    if (!choice.image) {
        writeFailure(console.err, choice.refusal);
        return choice.refusal.status;
    }
    const ImageFacts& facts = choice.image->facts;
    tellWarnings(*choice.image, console.err);
    console.out << "file:          " << facts.file << " (" << facts.fileLength << " bytes)\n"
                << "format:        " << facts.format << "\n"
                << "image:         " << ImageSize << " bytes, " << PageCount << " pages of " << PageSize << "\n"
                << "CRC-32:        " << facts.crc32 << "\n"
                << "SHA-256:       " << facts.sha256 << "\n"
                << "erased pages:  " << facts.erasedPages << " of " << PageCount << " all 0xFF\n";
    return ExitStatus::Ok;
}

ExitStatus runConvert(const ConvertOptions& options, Console& console)
{
    const ImageChoice choice = readImageInput(options.input);
    if (!choice.image) {
        writeFailure(console.err, choice.refusal);
        return choice.refusal.status;
    }
    if (!options.quiet)
        tellWarnings(*choice.image, console.err);
    const ImageBytes& bytes = choice.image->bytes;
    std::ofstream out(pathFromUtf8(options.output), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        writeFailure(console.err,
            {ExitStatus::Failure, "Cannot write " + options.output, "Name a file in a folder you may write to.", 0, 0});
        return ExitStatus::Failure;
    }
    if (!options.quiet) {
        const ImageFacts& facts = choice.image->facts;
        console.out << "wrote " << options.output << ": " << ImageSize << " bytes from " << facts.file << " ("
                    << facts.format << "), CRC-32 " << facts.crc32 << ", SHA-256 " << facts.sha256 << "\n";
    }
    return ExitStatus::Ok;
}

} // namespace isp::cli
