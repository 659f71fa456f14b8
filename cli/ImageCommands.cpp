#include "cli/ImageCommands.h"

#include "cli/HumanReport.h"
#include "cli/ImageInput.h"
#include "cli/JsonReport.h"
#include "cli/OutputFile.h"
#include "cli/Utf8Path.h"

#include <filesystem>

namespace isp::cli {
namespace {

void tellWarnings(const ImageInput& image, std::ostream& err)
{
    for (const std::string& warning : image.facts.warnings)
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
    // Written over its input, a record file would be gone before anyone
    // noticed the mix-up (the same name, a link to it, a hard link).
    std::error_code error;
    if (options.output != "-"
        && std::filesystem::equivalent(pathFromUtf8(options.input), pathFromUtf8(options.output), error)) {
        writeFailure(console.err,
            {ExitStatus::Usage, "OUT " + options.output + " is the input file " + options.input,
                "Name another file for the raw image; convert never overwrites its input.", 0, 0});
        return ExitStatus::Usage;
    }
    if (!options.quiet)
        tellWarnings(*choice.image, console.err);
    const ImageBytes& bytes = choice.image->bytes;
    const ImageFacts& facts = choice.image->facts;
    // "-": the image on stdout, for a pipe; what was done then goes to stderr.
    const bool toStdout = options.output == "-";
    if (toStdout) {
        console.out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        console.out.flush();
        if (!console.out) {
            writeFailure(console.err,
                {ExitStatus::Failure, "Cannot write the image to stdout", "Keep the program that reads it running.", 0,
                    0});
            return ExitStatus::Failure;
        }
    } else if (const auto reason = writeWholeFile(options.output, bytes)) {
        writeFailure(console.err,
            {ExitStatus::Failure, "Cannot write " + options.output + ": " + *reason,
                "Name a file in a folder you may write to.", 0, 0});
        return ExitStatus::Failure;
    }
    if (!options.quiet) {
        (toStdout ? console.err : console.out)
            << "wrote " << (toStdout ? "stdout" : options.output) << ": " << ImageSize << " bytes from " << facts.file
            << " (" << facts.format << "), CRC-32 " << facts.crc32 << ", SHA-256 " << facts.sha256 << "\n";
    }
    return ExitStatus::Ok;
}

} // namespace isp::cli
