#pragma once

#include "cli/SystemWords.h"

#include <optional>
#include <ostream>
#include <string>
#include <variant>

// The command line's commands and options, read with CLI11. Times are in
// seconds, as the user types them.
namespace isp::cli {

struct UploadOptions {
    std::string port;
    std::string image;
    double idleTimeout = 3.0; // BoardRules: longer than a boot loader waits before it asks again
    double stallTimeout = 5.0;
    std::optional<double> firstRequestTimeout; // none: wait until interrupted
    bool loop = false;
    bool json = false;
    bool quiet = false;
    std::string trace; // a file, "-" for stderr, empty for none
};

struct ListOptions {
    bool json = false;
};

struct InfoOptions {
    std::string image;
    bool json = false;
};

struct ConvertOptions {
    std::string input;
    std::string output;
    bool quiet = false;
};

using Command = std::variant<UploadOptions, ListOptions, InfoOptions, ConvertOptions>;

struct ParsedArguments {
    std::optional<Command> command; // none after --help, --version or a mistake
    int exitStatus = 0;             // without a command: 0 after --help or --version, 2 after a mistake
};

// Reads the arguments (UTF-8); help and version go to `out`, mistakes to
// `err`. The help names the ports and things of the system `words` are of.
ParsedArguments parseArguments(
    int argc, const char* const* argv, std::ostream& out, std::ostream& err, const SystemWords& words = systemWords());

// The name and version, as --version prints them.
const char* versionText();

} // namespace isp::cli
