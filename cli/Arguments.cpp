#include "cli/Arguments.h"

#include "cli/ExitStatus.h"
#include "cli/HelpText.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

namespace isp::cli {
namespace {

// The boot loader waits 20 ms before it listens for an answer, and a page
// takes about 70 ms on the line: a shorter silence than this says nothing.
constexpr double ShortestTimeout = 0.1;
constexpr double LongestTimeout = 86400.0;

// The exit statuses, as the footer of every help gives them.
std::string exitStatusHelp(const SystemWords& words)
{
    return std::string("Exit status: 0 every page sent (upload) or done; 1 other failure; 2 usage; 3 image refused; 4 "
                       "port not there; 5 no permission; 6 port held by another program; 7 no request in time; 8 "
                       "pages missing; 9 port lost; 10 output lost; ")
        + (words.windows ? "129 console closed; 130 Ctrl-C." : "129 SIGHUP; 130 Ctrl-C; 143 SIGTERM.");
}

// CLI11's layout, every text broken between words to fit 80 columns.
class WrappedHelp final : public CLI::Formatter {
public:
    std::string make_option_desc(const CLI::Option* option) const override
    {
        return wrapped(option->get_description(), HelpWidth - get_column_width());
    }
    std::string make_description(const CLI::App* app) const override
    {
        return wrapped(Formatter::make_description(app), HelpWidth);
    }
    std::string make_footer(const CLI::App* app) const override
    {
        return wrapped(Formatter::make_footer(app), HelpWidth);
    }
    std::string make_subcommand(const CLI::App* command) const override
    {
        std::stringstream out;
        CLI::detail::format_help(out, command->get_display_name(true),
            wrapped(command->get_description(), HelpWidth - get_column_width()), get_column_width());
        return out.str();
    }
};

CLI::App* addUpload(CLI::App& app, UploadOptions& options, const SystemWords& words)
{
    CLI::App* upload = app.add_subcommand("upload", "Write IMAGE into the device on PORT, answering its page requests");
    upload->add_option("PORT", options.port, words.portHelp)->required();
    upload->add_option("IMAGE", options.image, "The image: 28672 bytes raw, Intel HEX or S-records")->required();
    upload
        ->add_option("--idle-timeout", options.idleTimeout,
            "Seconds of silence after the last page that mean the board is done; longer than the device waits "
            "before it asks again for a page (default 3, or the stall time if that is shorter)")
        ->check(CLI::Range(ShortestTimeout, LongestTimeout));
    upload
        ->add_option("--stall-timeout", options.stallTimeout,
            "Seconds of silence before every page was sent that mean the device gave up")
        ->capture_default_str()
        ->check(CLI::Range(ShortestTimeout, LongestTimeout));
    upload
        ->add_option("--first-request-timeout", options.firstRequestTimeout,
            "Seconds to wait for the device's first request (default: until interrupted)")
        ->check(CLI::Range(ShortestTimeout, LongestTimeout));
    upload->add_flag("--loop", options.loop,
        "Serve board after board on PORT until interrupted, one summary each; a port that goes away with a board "
        "is awaited until it is back");
    upload->add_flag("--json", options.json, "JSON Lines on stdout, one object per event");
    upload->add_flag("-q,--quiet", options.quiet, "Nothing but errors");
    upload->add_option(
        "--trace", options.trace, "Write every request and every burst, timestamped, to FILE (- for stderr)");
    return upload;
}

// "/?" asks for the help on Windows, as every program there takes it.
std::vector<const char*> withWindowsHelp(int argc, const char* const* argv, const SystemWords& words)
{
    std::vector<const char*> arguments(argv, argv + argc);
    if (words.windows) {
        for (const char*& argument : arguments) {
            if (std::string_view(argument) == "/?")
                argument = "--help";
        }
    }
    return arguments;
}

} // namespace

const char* versionText()
{
    return "velmora-isp2-cli " ISP_VERSION;
}

ParsedArguments parseArguments(
    int argc, const char* const* argv, std::ostream& out, std::ostream& err, const SystemWords& words)
{
    CLI::App app("Writes a 28672-byte firmware image into a microcontroller through its serial boot loader, "
                 "page by page as the device asks for them.",
        "velmora-isp2-cli");
    // CLI11 reads "/x" as an option on Windows by default: an image path
    // such as /tmp/a.bin would not be one.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", versionText());
    app.require_subcommand(1);
    app.footer(exitStatusHelp(words));
    app.formatter(std::make_shared<WrappedHelp>());

    UploadOptions upload;
    ListOptions list;
    InfoOptions info;
    ConvertOptions convert;
    CLI::App* uploadCommand = addUpload(app, upload, words);

    CLI::App* listCommand =
        app.add_subcommand("list", "List the serial ports, their COMn numbers and whether each is free");
    listCommand->add_flag("--json", list.json, "JSON Lines on stdout, one object per port");

    CLI::App* infoCommand =
        app.add_subcommand("info", "Tell an image's format, size, CRC-32, SHA-256 and its pages of 0xFF");
    infoCommand->add_option("IMAGE", info.image, "The image file")->required();
    infoCommand->add_flag("--json", info.json, "One JSON object on stdout");

    CLI::App* convertCommand =
        app.add_subcommand("convert", "Write the 28672-byte image an upload of IN would send to OUT");
    convertCommand->add_option("IN", convert.input, "The image: raw, Intel HEX or S-records")->required();
    convertCommand->add_option("OUT", convert.output, "The raw image to write (OUT.bin)")->required();
    convertCommand->add_flag("-q,--quiet", convert.quiet, "Nothing but errors");

    ParsedArguments parsed;
    const std::vector<const char*> arguments = withWindowsHelp(argc, argv, words);
    try {
        app.parse(static_cast<int>(arguments.size()), arguments.data());
    } catch (const CLI::ParseError& error) {
        parsed.exitStatus = app.exit(error, out, err) == 0 ? 0 : toInt(ExitStatus::Usage);
        return parsed;
    }
    if (uploadCommand->parsed()) {
        // A stall time chosen shorter than the idle time's default makes
        // that default shorter too.
        if (uploadCommand->count("--idle-timeout") == 0)
            upload.idleTimeout = std::min(upload.idleTimeout, upload.stallTimeout);
        if (upload.stallTimeout < upload.idleTimeout) {
            err << "--stall-timeout (" << upload.stallTimeout << " s) must not be shorter than --idle-timeout ("
                << upload.idleTimeout << " s)\n";
            parsed.exitStatus = toInt(ExitStatus::Usage);
            return parsed;
        }
        parsed.command = upload;
    } else if (listCommand->parsed()) {
        parsed.command = list;
    } else if (infoCommand->parsed()) {
        parsed.command = info;
    } else if (convertCommand->parsed()) {
        parsed.command = convert;
    }
    return parsed;
}

} // namespace isp::cli
