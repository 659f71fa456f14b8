// Reading the command line: what a mistake gives, and that the times typed
// in seconds reach the run's rules.
#include "cli/Arguments.h"
#include "cli/Run.h"
#include "cli/UploadCommand.h"
#include "cli/Utf8Text.h"
#include "tests/support/ScratchFiles.h"

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

Parsed parse(std::vector<const char*> words, const SystemWords& system = posixWords())
{
    words.insert(words.begin(), "velmora-isp2-cli");
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed{parseArguments(static_cast<int>(words.size()), words.data(), out, err, system), {}, {}};
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
    EXPECT_EQ(defaults.rules.idle, 3s);
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

    // A stall time shorter than the idle time's default shortens it.
    const Parsed quick = parse({"upload", "--stall-timeout", "2", "COM2", "firmware.hex"});
    ASSERT_TRUE(quick.arguments.command) << quick.err;
    EXPECT_EQ(uploadSettingsFrom(std::get<UploadOptions>(*quick.arguments.command)).rules.idle, 2s);
}

TEST(Arguments, MistakesEndWithStatus2AndSaySoOnStderr)
{
    const std::vector<std::vector<const char*>> mistakes{
        {},
        {"flash", "COM1", "x.bin"},
        {"upload", "COM1"},
        {"upload", "COM1", "x.bin", "--idle-timeout", "soon"},
        {"upload", "COM1", "x.bin", "--idle-timeout", "0.01"},
        {"upload", "COM1", "x.bin", "--idle-timeout", "1", "--stall-timeout", "0.5"}, // shorter than the idle time
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

namespace {

std::string tokensOf(const std::string& text)
{
    std::istringstream in(text);
    std::string joined;
    for (std::string word; in >> word;)
        joined += word + ' ';
    return joined;
}

} // namespace

TEST(Arguments, HelpFitsEightyColumnsWithWholeWordsAndNamesThePortsOfItsSystem)
{
    for (const SystemWords* system : {&posixWords(), &windowsWords()}) {
        for (const std::vector<const char*>& asked : std::vector<std::vector<const char*>>{
                 {"--help"}, {"upload", "--help"}, {"list", "--help"}, {"info", "--help"}, {"convert", "--help"}}) {
            const Parsed help = parse(asked, *system);
            SCOPED_TRACE(help.out);
            EXPECT_EQ(help.arguments.exitStatus, 0);
            for (const std::string& line : [&] {
                     std::vector<std::string> lines;
                     std::istringstream in(help.out);
                     for (std::string l; std::getline(in, l);)
                         lines.push_back(l);
                     return lines;
                 }()) {
                EXPECT_LE(line.size(), 80u) << line;
            }
        }
        // Broken only between words: the text is all there, word for word.
        const Parsed upload = parse({"upload", "--help"}, *system);
        EXPECT_NE(tokensOf(upload.out).find(tokensOf(system->portHelp)), std::string::npos) << upload.out;
        EXPECT_EQ(upload.out.find("/dev/") == std::string::npos, system->windows) << upload.out;
    }
    // "/?" is the help on Windows, and no file name there.
    const Parsed slashQuestion = parse({"/?"}, windowsWords());
    EXPECT_EQ(slashQuestion.arguments.exitStatus, 0);
    EXPECT_NE(slashQuestion.out.find("Usage: velmora-isp2-cli"), std::string::npos) << slashQuestion.out;
    EXPECT_NE(parse({"upload", "/?"}, windowsWords()).out.find("--idle-timeout"), std::string::npos);
    EXPECT_EQ(parse({"/?"}, posixWords()).arguments.exitStatus, 2);
}

// Started from Explorer the console window closes when the program ends: it
// waits for Enter, after the help, or after telling what an image dropped on
// it is and how to upload it.
TEST(OwnConsole, ADroppedImageIsToldWithTheCommandThatUploadsItThenEnterIsAwaited)
{
    isp::test::ScratchFolder folder;
    const std::string image = folder / "прошивка.bin";
    isp::test::writeFile(image, std::string(28672, '\x0C'));
    std::ostringstream out;
    std::ostringstream err;
    Console console{out, err, false};
    std::istringstream enter("\n");
    EXPECT_EQ(runInItsOwnConsole({"C:\\Tools\\velmora-isp2-cli.exe", image}, console, enter), 0);
    EXPECT_NE(out.str().find("\"C:\\Tools\\velmora-isp2-cli.exe\" upload " + std::string(systemWords().examplePort)
                  + " \"" + image + "\""),
        std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("format:        raw binary"), std::string::npos) << out.str();
    EXPECT_TRUE(out.str().ends_with("Press Enter to close this window.")) << out.str();
    EXPECT_EQ(enter.peek(), std::char_traits<char>::eof()) << "the Enter was read";

    std::ostringstream help;
    Console helpConsole{help, err, false};
    std::istringstream enterAgain("\n");
    EXPECT_EQ(runInItsOwnConsole({"velmora-isp2-cli.exe"}, helpConsole, enterAgain), 0);
    EXPECT_NE(help.str().find("Usage: velmora-isp2-cli"), std::string::npos) << help.str();
}

TEST(Utf8Text, PiecesEndOnWholeCharacters)
{
    const std::string text = "J\xC3\xBCrgen \xD0\xBF\xE2\x82\xAC\xF0\x9F\x94\x8C"; // Jürgen п € 🔌
    EXPECT_EQ(wholeUtf8Length(text), text.size());
    EXPECT_EQ(wholeUtf8Length(text.substr(0, 2)), 1u);                // ü cut after its lead byte
    EXPECT_EQ(wholeUtf8Length(text.substr(0, 11)), 10u);              // € cut after two of its three
    EXPECT_EQ(wholeUtf8Length(text.substr(0, text.size() - 1)), 13u); // 🔌 cut after three of four
    EXPECT_EQ(wholeUtf8Length("\x80\x80"), 2u) << "stray continuation bytes go as they are";
}
