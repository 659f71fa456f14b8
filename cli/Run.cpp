#include "cli/Run.h"

#include "cli/Arguments.h"
#include "cli/ImageCommands.h"
#include "cli/ListCommand.h"
#include "cli/UploadCommand.h"

namespace isp::cli {
namespace {

struct CommandRunner {
    Console& console;
    ExitStatus operator()(const UploadOptions& options) const { return runUpload(options, console); }
    ExitStatus operator()(const ListOptions& options) const { return runList(options, console); }
    ExitStatus operator()(const InfoOptions& options) const { return runInfo(options, console); }
    ExitStatus operator()(const ConvertOptions& options) const { return runConvert(options, console); }
};

} // namespace

int run(int argc, const char* const* argv, Console& console)
{
    const ParsedArguments parsed = parseArguments(argc, argv, console.out, console.err);
    if (!parsed.command)
        return parsed.exitStatus;
    return toInt(std::visit(CommandRunner{console}, *parsed.command));
}

} // namespace isp::cli
