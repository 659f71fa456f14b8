// Reading the command line: what a mistake gives, and that the times typed
// in seconds reach the run's rules.
#include "cli/Arguments.h"
#include "cli/UploadCommand.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace isp::cli;
using namespace std::chrono_literals;

namespace {

struct Parsed {
    ParsedArguments arguments;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<const char*> words)
{
    words.insert(words.begin(), "velmora-isp2-cli");
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed{parseArguments(static_cast<int>(words.size()), words.data(), out, err), {}, {}};
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

} // namespace

TEST(Arguments, UploadTakesItsTimesInSecondsAndWaitsForeverByDefault)
{
    const Parsed plain = parse({"upload", "COM2", "firmware.hex"});
    ASSERT_TRUE(plain.arguments.command);
    const UploadSettings defaults = uploadSettingsFrom(std::get<UploadOptions>(*plain.arguments.command));
    EXPECT_EQ(defaults.rules.idle, 1s);
    EXPECT_EQ(defaults.rules.stall, 5s);
    EXPECT_FALSE(defaults.rules.firstRequest);
    EXPECT_FALSE(defaults.rules.loop);

    const Parsed tuned = parse({"upload", "--idle-timeout", "0.3", "/dev/ttyUSB0", "--stall-timeout=2.5",
        "--first-request-timeout", "10", "--loop", "--json", "-q", "--trace", "-", "image.bin"});
    ASSERT_TRUE(tuned.arguments.command) << tuned.err;
    const auto& options = std::get<UploadOptions>(*tuned.arguments.command);
    EXPECT_EQ(options.port, "/dev/ttyUSB0");
    EXPECT_EQ(options.image, "image.bin");
    EXPECT_TRUE(options.json && options.quiet && options.loop);
    EXPECT_EQ(options.trace, "-");
    const UploadSettings settings = uploadSettingsFrom(options);
    EXPECT_EQ(settings.rules.idle, 300ms);
    EXPECT_EQ(settings.rules.stall, 2500ms);
    EXPECT_EQ(settings.rules.firstRequest, 10s);
    EXPECT_TRUE(settings.rules.loop);
}

TEST(Arguments, MistakesEndWithStatus2AndSaySoOnStderr)
{
    const std::vector<std::vector<const char*>> mistakes{
        {},
        {"flash", "COM1", "x.bin"},
        {"upload", "COM1"},
        {"upload", "COM1", "x.bin", "--idle-timeout", "soon"},
        {"upload", "COM1", "x.bin", "--idle-timeout", "0.01"},
        {"upload", "COM1", "x.bin", "--stall-timeout", "0.5"}, // shorter than the idle time
        {"convert", "in.hex"},
        {"list", "--colour"},
    };
    for (const auto& words : mistakes) {
        const Parsed parsed = parse(words);
        SCOPED_TRACE(parsed.err);
        EXPECT_FALSE(parsed.arguments.command);
        EXPECT_EQ(parsed.arguments.exitStatus, 2);
        EXPECT_FALSE(parsed.err.empty());
    }
}
