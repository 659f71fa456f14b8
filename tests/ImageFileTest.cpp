// Reading image files, and the "open file" command that acts on the result.
#include "image/ImageFile.h"
#include "tests/support/SimulatedRig.h"
#include "transfer/Protocol.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace isp;
using namespace isp::test;
namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "image-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

std::string writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

std::vector<std::uint8_t> imageOf(std::uint32_t seed)
{
    const ImageBytes image = randomImage(seed);
    return {image.begin(), image.end()};
}

} // namespace

TEST(ImageFile, OnlyExactlyTheImageSizeIsAccepted)
{
    TempFolder folder;
    for (const std::size_t length :
        {std::size_t{0}, std::size_t{1}, std::size_t{28671}, std::size_t{28673}, std::size_t{57344}}) {
        const auto path = writeFile(folder / "wrong.bin", std::vector<std::uint8_t>(length, 0x11));
        const ImageLoadResult result = loadImageFile(path);
        EXPECT_EQ(result.outcome, ImageLoadResult::Outcome::WrongLength) << length;
        EXPECT_EQ(result.length, length);
    }

    std::vector<std::uint8_t> bytes = imageOf(21);
    bytes.back() = 0x5A;
    const ImageLoadResult good = loadImageFile(writeFile(folder / "good.bin", bytes));
    ASSERT_EQ(good.outcome, ImageLoadResult::Outcome::Loaded);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), good.bytes.begin()));
    EXPECT_EQ(good.bytes[28671], 0x5A);
}

TEST(ImageFile, AHugeFileIsRefusedByItsLengthAlone)
{
    TempFolder folder;
    const fs::path path = folder / "huge.bin";
    writeFile(path, {});
    fs::resize_file(path, std::uintmax_t{4} << 30); // sparse: 4 GiB of nothing
    const ImageLoadResult result = loadImageFile(path.string());
    EXPECT_EQ(result.outcome, ImageLoadResult::Outcome::WrongLength);
    EXPECT_EQ(result.length, std::uintmax_t{4} << 30);
}

TEST(ImageFile, NamesThatAreNotReadableFilesAreRefusedWithAReason)
{
    TempFolder folder;
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder / "folder.bin");
    fs::create_symlink(folder / "loop-b", folder / "loop-a");
    fs::create_symlink(folder / "loop-a", folder / "loop-b");

    struct Case {
        fs::path path;
        std::string reason;
    };
    for (const Case& c : {Case{folder / "missing.bin", "the file does not exist"},
             Case{folder / "folder.bin", "the name is a folder, not a file"},
             Case{fifo, "the name is not a regular file"}, // no writer: must not block
             Case{folder / "loop-a", "the name is a loop of symbolic links"},
             Case{"/dev/null", "the name is not a regular file"}}) {
        const ImageLoadResult result = loadImageFile(c.path.string());
        EXPECT_EQ(result.outcome, ImageLoadResult::Outcome::Unreadable) << c.path;
        EXPECT_EQ(result.reason, c.reason) << c.path;
    }
}

TEST(ImageFile, AFileWithoutReadPermissionIsRefused)
{
    TempFolder folder;
    const auto path = writeFile(folder / "secret.bin", imageOf(22));
    ::chmod(path.c_str(), 0000);
    fs::permissions(folder / "", fs::perms::all, fs::perm_options::add);
    if (::geteuid() != 0) {
        EXPECT_EQ(loadImageFile(path).reason, "no permission to read the file");
        return;
    }
    // Root reads anything: try as an ordinary user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const ImageLoadResult result = loadImageFile(path);
        ::_exit(
            result.outcome == ImageLoadResult::Outcome::Unreadable && result.reason == "no permission to read the file"
                ? 0
                : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot become an ordinary user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ImageFile, ANameWithNonAsciiCharactersLoads)
{
    TempFolder folder;
    const auto bytes = imageOf(23);
    const auto path = writeFile(folder / "Prüfstand-Ω-固件.bin", bytes);
    const ImageLoadResult result = loadImageFile(path);
    ASSERT_EQ(result.outcome, ImageLoadResult::Outcome::Loaded);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), result.bytes.begin()));
}

// --- the "open file" command -------------------------------------------------

struct OpenFileRig : SimulatedRig {
    TempFolder folder;
    OpenFileRig() { shell.Form1_Load(); }

    void choose(const std::string& path)
    {
        form.chosenFiles.push_back(path);
        shell.OpenFile_Click();
    }
    bool bufferEquals(const std::vector<std::uint8_t>& bytes) const
    {
        return std::equal(bytes.begin(), bytes.end(), shell.state().ImageBuffer.begin());
    }
};

TEST(OpenFile, CancellingChangesNothing)
{
    OpenFileRig rig;
    rig.shell.OpenFile_Click();
    EXPECT_EQ(rig.form.chooserShown, 1);
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 0);
    EXPECT_TRUE(rig.form.messages.empty());
}

TEST(OpenFile, AGoodImageReplacesTheWholeBufferButNotTheByteAfterIt)
{
    OpenFileRig rig;
    rig.shell.state().ImageBuffer[ImageSize] = 0xA5;
    const auto first = imageOf(31);
    const auto second = imageOf(32);
    rig.choose(writeFile(rig.folder / "first.bin", first));
    EXPECT_TRUE(rig.bufferEquals(first));
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 1);
    rig.choose(writeFile(rig.folder / "second.bin", second));
    EXPECT_TRUE(rig.bufferEquals(second));
    EXPECT_EQ(rig.shell.state().ImageBuffer[ImageSize], 0xA5);
    EXPECT_TRUE(rig.form.messages.empty());
}

TEST(OpenFile, AWrongLengthIsToldAndClearsTheFlagOnlyAfterOk)
{
    OpenFileRig rig;
    const auto good = imageOf(33);
    rig.choose(writeFile(rig.folder / "good.bin", good));

    int flagWhileShowing = -1;
    rig.form.onMessageShown = [&](const std::string&) { flagWhileShowing = rig.shell.state().FileLoadedFlag; };
    rig.choose(writeFile(rig.folder / "short.bin", std::vector<std::uint8_t>(28671, 0)));

    EXPECT_EQ(rig.form.messages, std::vector<std::string>{"WARNNING: file error!"});
    EXPECT_EQ(flagWhileShowing, 1);
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 0);
    EXPECT_TRUE(rig.bufferEquals(good)) << "a refused file leaves the earlier image in memory";
}

TEST(OpenFile, AnUnreadableFileLeavesImageAndFlagAsTheyWere)
{
    OpenFileRig rig;
    const auto good = imageOf(34);
    rig.choose(writeFile(rig.folder / "good.bin", good));
    rig.choose((rig.folder / "gone.bin").string());
    ASSERT_EQ(rig.form.messages.size(), 1u);
    EXPECT_EQ(rig.form.messages[0], " cannot read this file: the file does not exist! ");
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 1);
    EXPECT_TRUE(rig.bufferEquals(good));

    // A read that fails part-way changes nothing either.
    rig.shell.setImageLoader([](const std::string&) {
        ImageLoadResult cut;
        cut.outcome = ImageLoadResult::Outcome::Unreadable;
        cut.bytes.fill(0x77);
        cut.reason = "the file became shorter while it was read";
        return cut;
    });
    rig.choose("cut.bin");
    EXPECT_EQ(rig.shell.state().FileLoadedFlag, 1);
    EXPECT_TRUE(rig.bufferEquals(good));
}
