#include "cli/Run.h"

#include "cli/Arguments.h"
#include "cli/HelpText.h"
#include "cli/ImageCommands.h"
#include "cli/ListCommand.h"
#include "cli/SystemWords.h"
#include "cli/UploadCommand.h"
#include "cli/Utf8Path.h"

#include <filesystem>

namespace isp::cli {
namespace {

struct CommandRunner {
    Console& console;
    ExitStatus operator()(const UploadOptions& options) const { return runUpload(options, console); }
    ExitStatus operator()(const ListOptions& options) const { return runList(options, console); }
    ExitStatus operator()(const InfoOptions& options) const { return runInfo(options, console); }
    ExitStatus operator()(const ConvertOptions& options) const { return runConvert(options, console); }
};

bool namesAFile(const std::string& argument)
{
    std::error_code error;
    return !argument.empty() && argument[0] != '-' && std::filesystem::is_regular_file(pathFromUtf8(argument), error);
}

// An image dropped on the program: what it is, and the command that uploads
// it, to be typed where the program can run to its end.
ExitStatus explainDroppedImage(const std::string& program, const std::string& image, Console& console)
{
    const SystemWords& words = systemWords();
    console.out << wrapped("velmora-isp2-cli writes a firmware image into a device through its serial boot loader. "
                           "It runs in a Command Prompt or PowerShell window, where this uploads the image you "
                           "dropped on it:",
        HelpWidth)
                << "\n\n  \"" << program << "\" upload " << words.examplePort << " \"" << image << "\"\n\n"
                << wrapped(std::string("with the device's port in place of ") + words.examplePort + " (\"" + program
                           + "\" list shows the ports). The image:",
                       HelpWidth)
                << "\n\n";
    return runInfo({image, false}, console);
}

} // namespace

int run(const std::vector<std::string>& arguments, Console& console)
{
    std::vector<const char*> argv;
    argv.reserve(arguments.size());
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    const ParsedArguments parsed = parseArguments(static_cast<int>(argv.size()), argv.data(), console.out, console.err);
    if (!parsed.command)
        return parsed.exitStatus;
    return toInt(std::visit(CommandRunner{console}, *parsed.command));
}

int runInItsOwnConsole(const std::vector<std::string>& arguments, Console& console, std::istream& in)
{
    int status = 0;
    if (arguments.size() <= 1) {
        (void)run({arguments.empty() ? std::string("velmora-isp2-cli") : arguments[0], "--help"}, console);
        console.out << "\nThis is a command-line program: run it from a Command Prompt or PowerShell window.\n";
    } else if (arguments.size() == 2 && namesAFile(arguments[1])) {
        status = toInt(explainDroppedImage(arguments[0], arguments[1], console));
    } else {
        status = run(arguments, console);
    }
    console.out << "\nPress Enter to close this window.";
    console.out.flush();
    std::string line;
    std::getline(in, line);
    return status;
}

} // namespace isp::cli
