// The window on Windows, velmora-isp2.exe, under Wine on a headless X
// server, as a user meets it: both windows as the layout table draws them,
// Tab and the focus, the modal message window, pages that go on under it and
// under the file dialog, exit; and whole uploads through clicks with the
// boot loader on the far side of a pseudo-terminal mapped to a COM port. The
// handlers' logic has its tests elsewhere; these show the Win32 window
// wires it right.
//
// Run by scripts/windows-test.sh (see tests/win32/WineSession.h).
#include "app/handlers/Messages.h"
#include "app/layout/WindowLayout.h"
#include "serial/Platform.h"
#include "tests/support/BenchFigures.h"
#include "tests/support/ImageScript.h"
#include "tests/support/PtyBootLoader.h"
#include "tests/win32/WineSession.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>

using namespace isp;
using namespace isp::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// Safety limits for a test gone wrong, never a pacing.
constexpr auto ShowLimit = 30s;
constexpr auto UploadLimit = 120s;

// The control classes of the layout's kinds.
std::string classOf(layout::Kind kind)
{
    switch (kind) {
    case layout::Kind::PushButton: return "Button";
    case layout::Kind::Label: return "Static";
    case layout::Kind::DropDownList: return "ComboBox";
    case layout::Kind::ProgressBar: return "msctls_progress32";
    }
    return "";
}

json rectOf(const layout::TwipsRect& r, int dpi)
{
    return {{"left", layout::toPixels(r.left, dpi)}, {"top", layout::toPixels(r.top, dpi)},
        {"width", layout::toPixels(r.width, dpi)}, {"height", layout::toPixels(r.height, dpi)}};
}

// A built window against its table: caption, client area, and each control
// in focus order with its kind, text, place, size and focus rule. The label
// of the main window may widen for its text; the message label's text is
// the message's; the closed drop-down list is as high as Wine lets it be
// (its selection field has a least height of its font's, 2 px more here).
void expectBuiltAsLaidOut(const json& window, const layout::Window& table)
{
    SCOPED_TRACE(std::string(table.name));
    ASSERT_FALSE(window.is_null()) << "not showing";
    const int dpi = window.value("dpi", 96);
    EXPECT_EQ(window["caption"], std::string(table.caption));
    const json client = rectOf(table.clientArea, dpi);
    EXPECT_EQ(window["client"]["left"], client["left"]);
    EXPECT_EQ(window["client"]["top"], client["top"]);
    EXPECT_EQ(window["client"]["width"], client["width"]);
    EXPECT_GE(window["client"]["height"], client["height"]);

    const json& controls = window["controls"];
    ASSERT_EQ(controls.size(), table.controls.size());
    // Tab takes the children in their order: the focus order of the table
    // for those that take the focus.
    std::vector<std::string> tabOrder;
    for (const json& c : controls) {
        if (c["tabStop"])
            tabOrder.push_back(c["name"]);
    }
    std::vector<std::string> drawnOrder;
    for (const layout::Control& c : table.controls) {
        if (layout::takesFocus(c.kind))
            drawnOrder.emplace_back(c.name);
    }
    EXPECT_EQ(tabOrder, drawnOrder);

    for (const layout::Control& drawn : table.controls) {
        SCOPED_TRACE(std::string(drawn.name));
        const json c = WindowDriver::control(window, std::string(drawn.name));
        ASSERT_FALSE(c.is_null());
        EXPECT_EQ(c["class"], classOf(drawn.kind));
        EXPECT_EQ(c["tabStop"], layout::takesFocus(drawn.kind));
        EXPECT_FALSE(c["defaultButton"]) << "Enter would press it";
        if (!drawn.text.empty()) {
            EXPECT_EQ(c["text"], std::string(drawn.text));
        }
        const json place = rectOf(drawn.rect, dpi);
        EXPECT_EQ(c["rect"]["left"], place["left"]);
        EXPECT_EQ(c["rect"]["top"], place["top"]);
        if (drawn.kind == layout::Kind::Label) {
            EXPECT_GE(c["rect"]["width"], place["width"]);
            EXPECT_GE(c["rect"]["height"], place["height"]);
        } else if (drawn.kind == layout::Kind::DropDownList) {
            EXPECT_EQ(c["rect"]["width"], place["width"]);
            EXPECT_NEAR(c["rect"]["height"].get<int>(), place["height"].get<int>(), 2);
        } else if (drawn.name != "Command1") { // moves down under a long message
            EXPECT_EQ(c["rect"], place);
        }
    }
}

class Win32Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(environment("ISP_WIN32_WINDOW").empty()) << "run by scripts/windows-test.sh";
        // No test may open a real port: only the links a test makes stay.
        removeComLinks();
        char folder[] = "/tmp/isp-win32-window-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        scratch = folder;
    }
    void TearDown() override
    {
        if (program && !program->exited()) {
            driver.act({"close", "PromptForm"});
            program->kill();
        }
        program.reset();
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }

    // Starts the program and waits for its main window.
    void start()
    {
        program.emplace(environment("ISP_WIN32_WINDOW"), std::vector<std::string>{}, scratch / "program.log");
        ASSERT_TRUE(driver.act({"wait", "Form1", "30000"})) << "the main window did not show";
    }

    json mainWindow() { return WindowDriver::window(driver.tree(), "Form1"); }
    // A key goes in through the system's input queue and arrives in its own
    // time: the focus once it moved away from where it was.
    std::string focusAfterKey(const std::string& key)
    {
        const std::string before = focus();
        EXPECT_TRUE(driver.act({"key", "Form1", key}));
        std::string now = before;
        runUntil(
            *loop, [&] { return (now = focus()) != before; }, ShowLimit);
        return now;
    }
    json messageWindow() { return WindowDriver::window(driver.tree(), "PromptForm"); }
    std::string focus() { return mainWindow().value("focus", ""); }

    // A file of `length` bytes: the image, or as much of it as fits.
    std::filesystem::path writeFile(const std::string& name, const ImageBytes& image, std::size_t length)
    {
        std::filesystem::path path = scratch / name;
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < length; ++i)
            out.put(static_cast<char>(i < image.size() ? image[i] : 0));
        return path;
    }

    // "open file", then the path typed into the dialog.
    void openFile(const std::filesystem::path& path)
    {
        ASSERT_TRUE(driver.act({"click", "Form1", "OpenFile"}));
        ASSERT_TRUE(driver.act({"open-in-dialog", windowsPath(path)})) << "no file dialog";
        ASSERT_TRUE(driver.act({"gone", "dialog", "10000"}));
    }

    bool waitForPages(PtyBootLoader& device, int pages)
    {
        return runUntil(
            *loop, [&] { return device.loader().pagesWritten() >= pages; }, UploadLimit);
    }

    std::filesystem::path scratch;
    std::unique_ptr<MainLoop> loop = platform::makeMainLoop();
    WindowDriver driver{*loop};
    std::optional<WineProcess> program;
};

} // namespace

TEST_F(Win32Window, BothWindowsAreBuiltAsLaidOutAndAFileOfAnotherLengthIsRefused)
{
    start();
    const json form = mainWindow();
    // scripts/windows-test.sh runs this once more on a denser screen.
    const std::string dpi = environment("ISP_WIN32_EXPECTED_DPI");
    EXPECT_EQ(form.value("dpi", 0), dpi.empty() ? 96 : std::stoi(dpi));
    expectBuiltAsLaidOut(form, layout::Form1Layout);
    EXPECT_EQ(form["focus"], "OpenFile");
    const json bar = WindowDriver::control(form, "ProgressBar1");
    EXPECT_EQ(bar["minimum"], 0);
    EXPECT_EQ(bar["maximum"], 223);
    EXPECT_EQ(bar["value"], 0);
    EXPECT_EQ(WindowDriver::control(form, "ComSelect")["entries"], json::array()) << "this prefix maps no port";

    // A file one byte short: the message, and only it, in its window.
    openFile(writeFile("short.bin", randomImage(1), ImageSize - 1));
    ASSERT_TRUE(driver.act({"wait", "PromptForm", "10000"}));
    const json prompt = messageWindow();
    expectBuiltAsLaidOut(prompt, layout::PromptFormLayout);
    EXPECT_EQ(WindowDriver::control(prompt, "PromptContent")["text"], messages::FileError);
    EXPECT_EQ(prompt["client"]["height"],
        layout::toPixels(layout::PromptFormLayout.clientArea.height, prompt.value("dpi", 96)));
    EXPECT_EQ(prompt["owner"], true);
    // Its small icon at the screen's density (16 pixels at 96 dpi); Wine
    // shows a default picture of its own where a window has no large one.
    const int small = 16 * prompt.value("dpi", 96) / 96;
    const std::string smallIcon = std::to_string(small) + "x" + std::to_string(small);
    EXPECT_NE(xIconSizes("prompt").find(smallIcon), std::string::npos) << xIconSizes("prompt");
    EXPECT_EQ(prompt["focus"], "Command1");
    EXPECT_EQ(mainWindow()["enabled"], false) << "the main window takes input under the message";
    ASSERT_TRUE(driver.act({"click", "PromptForm", "Command1"}));
    ASSERT_TRUE(driver.act({"gone", "PromptForm", "10000"}));
    EXPECT_EQ(mainWindow()["enabled"], true);
}

TEST_F(Win32Window, TheProgramCarriesItsIconsManifestAndVersion)
{
    const json found = driver.run({"resources", windowsPath(environment("ISP_WIN32_WINDOW"))});
    ASSERT_EQ(found["status"], 0) << found.dump();
    // The program's icon is the main window's: the drawing at 16 and 32
    // pixels among others; the message window's is a 16-pixel one.
    EXPECT_EQ(found["programIcon"], json::array({16, 32, 48, 256}));
    EXPECT_EQ(found["promptIcon"], json::array({16}));
    EXPECT_EQ(found["productName"], "Velmora ISP2");
    EXPECT_EQ(found["originalFilename"], "velmora-isp2.exe");
    EXPECT_EQ(found["fileVersion"], ISP_VERSION);
    const std::string manifest = found["manifest"];
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);

    start();
    EXPECT_EQ(xIconSizes("Velmora ISP2"), "32x32 16x16");
}

TEST_F(Win32Window, TabVisitsTheInputsInFocusOrderAndEnterOrEscapePressNothing)
{
    start();
    ASSERT_EQ(focus(), "OpenFile");
    std::vector<std::string> forward(4);
    for (std::string& next : forward)
        next = focusAfterKey("tab");
    EXPECT_EQ(forward, (std::vector<std::string>{"ExitCommand", "ComSelect", "OpenUart", "OpenFile"}));
    EXPECT_EQ(focusAfterKey("shift-tab"), "OpenUart");

    // Enter, Return and Escape on the focused "Uart:close": nothing happens
    // (with no port it would show a message); Space presses it.
    for (const char* key : {"enter", "escape"}) {
        ASSERT_TRUE(driver.act({"key", "Form1", key}));
        EXPECT_FALSE(driver.act({"wait", "PromptForm", "500"})) << key << " pressed the button";
    }
    ASSERT_TRUE(driver.act({"key", "Form1", "space"}));
    ASSERT_TRUE(driver.act({"wait", "PromptForm", "10000"})) << "Space did not press the button";
    EXPECT_EQ(WindowDriver::control(messageWindow(), "PromptContent")["text"], messages::NoPortListed);
    ASSERT_TRUE(driver.act({"click", "PromptForm", "Command1"}));
    ASSERT_TRUE(driver.act({"gone", "PromptForm", "10000"}));
    EXPECT_TRUE(runUntil(
        *loop, [&] { return focus() == "OpenUart"; }, ShowLimit))
        << "the focus did not come back to the button that had it: " << focus();
}

TEST_F(Win32Window, TheMessageWindowIsModalGrowsForALongTextAndClosesByOkOrItsFrame)
{
    start();
    for (const char* closeBy : {"frame", "ok"}) {
        SCOPED_TRACE(closeBy);
        ASSERT_TRUE(driver.act({"click", "Form1", "OpenUart"}));
        ASSERT_TRUE(driver.act({"wait", "PromptForm", "10000"}));
        const json prompt = messageWindow();
        EXPECT_EQ(WindowDriver::control(prompt, "PromptContent")["text"], messages::NoPortListed);
        // The long text wraps; the window grows downwards and keeps its place.
        const int drawnHeight = layout::toPixels(layout::PromptFormLayout.clientArea.height);
        EXPECT_GT(prompt["client"]["height"].get<int>(), drawnHeight);
        const json ok = WindowDriver::control(prompt, "Command1");
        EXPECT_EQ(
            ok["rect"]["top"].get<int>() - layout::toPixels(720), prompt["client"]["height"].get<int>() - drawnHeight);

        // Nothing of the main window answers meanwhile, not even a click
        // sent to a button directly, nor its frame's close control.
        EXPECT_TRUE(driver.act({"click", "Form1", "OpenFile"}));
        EXPECT_TRUE(driver.act({"close", "Form1"}));
        EXPECT_FALSE(driver.act({"wait", "dialog", "500"}));
        EXPECT_FALSE(program->exited());
        // Nor do Enter and Escape close the message.
        EXPECT_TRUE(driver.act({"key", "PromptForm", "enter"}));
        EXPECT_TRUE(driver.act({"key", "PromptForm", "escape"}));
        EXPECT_FALSE(driver.act({"gone", "PromptForm", "500"}));

        ASSERT_TRUE(std::string(closeBy) == "ok" ? driver.act({"click", "PromptForm", "Command1"})
                                                 : driver.act({"close", "PromptForm"}));
        ASSERT_TRUE(driver.act({"gone", "PromptForm", "10000"}));
        EXPECT_FALSE(program->exited());
    }
}

TEST_F(Win32Window, ExitAndTheFramesCloseControlEndTheProgram)
{
    for (const bool byFrame : {false, true}) {
        SCOPED_TRACE(byFrame ? "frame" : "exit");
        start();
        ASSERT_TRUE(byFrame ? driver.act({"close", "Form1"}) : driver.act({"click", "Form1", "ExitCommand"}));
        ASSERT_TRUE(runUntil(
            *loop, [&] { return program->exited(); }, ShowLimit));
        EXPECT_EQ(program->exitStatus(), 0);
    }
}

// ------------------------------------------------ whole uploads over a pty

// Wine on a busy machine can hold the program past the device's own wait
// before it asks again; the late answer is then right, only for the request
// before.
namespace {
VirtualBootLoader::Options deviceSeenThroughWine()
{
    VirtualBootLoader::Options options;
    options.answerMayFollowTheRequestBefore = true;
    return options;
}
} // namespace

class Win32Upload : public Win32Window {
protected:
    void SetUp() override
    {
        Win32Window::SetUp();
        links.push_back(std::make_unique<ComLink>(3, pty.slavePath()));
        // Above COM16: never listed.
        links.push_back(std::make_unique<ComLink>(17, far.slavePath()));
    }

    // The program started, the image loaded through the file dialog and the
    // port opened through its button; the boot loader asks for the pages.
    void startUpload(const ImageBytes& image)
    {
        start();
        const json box = WindowDriver::control(mainWindow(), "ComSelect");
        ASSERT_EQ(box["entries"], json::array({"COM3"}));
        ASSERT_EQ(box["picked"], 0);
        openFile(writeFile("firmware.bin", image, ImageSize));
        ASSERT_FALSE(driver.act({"wait", "PromptForm", "300"})) << "the image was refused";
        ASSERT_TRUE(driver.act({"click", "Form1", "OpenUart"}));
        ASSERT_TRUE(runUntil(
            *loop, [&] { return WindowDriver::control(mainWindow(), "OpenUart")["text"] == "Uart:open"; }, ShowLimit));
        device.loader().start();
    }

    PseudoTerminal pty;
    PseudoTerminal far;
    std::vector<std::unique_ptr<ComLink>> links;
    PtyBootLoader device{pty, *loop, deviceSeenThroughWine()};
};

TEST_F(Win32Upload, EveryPageArrivesRightAndTheBarFills)
{
    const ImageBytes image = randomImage(15);
    startUpload(image);
    ASSERT_TRUE(runUntil(
        *loop, [&] { return device.loader().finished(); }, UploadLimit))
        << device.loader().pagesWritten() << " pages";
    EXPECT_EQ(device.loader().violations(), std::vector<std::string>{});
    EXPECT_TRUE(device.loader().flash() == image);
    ASSERT_TRUE(runUntil(
        *loop, [&] { return WindowDriver::control(mainWindow(), "ProgressBar1")["value"] == 223; }, ShowLimit));
    EXPECT_FALSE(driver.act({"wait", "PromptForm", "300"}));
}

TEST_F(Win32Upload, PagesGoOnUnderTheFileDialogAndUnderAMessage)
{
    startUpload(randomImage(16));
    ASSERT_TRUE(waitForPages(device, 5));

    // The file dialog runs the system's own modal loop.
    ASSERT_TRUE(driver.act({"click", "Form1", "OpenFile"}));
    ASSERT_TRUE(driver.act({"wait", "dialog", "10000"}));
    const json dialog = WindowDriver::window(driver.tree(), "dialog");
    EXPECT_EQ(dialog["caption"], "open");
    EXPECT_EQ(dialog["filter"], "*.bin");
    EXPECT_EQ(dialog["owner"], true);
    int before = device.loader().pagesWritten();
    ASSERT_TRUE(waitForPages(device, before + 10));
    EXPECT_TRUE(driver.act({"wait", "dialog", "0"})) << "the dialog closed meanwhile";

    // A refused file: its message shows while the earlier image goes on
    // being sent, until the user has read it.
    ASSERT_TRUE(driver.act({"open-in-dialog", windowsPath(writeFile("long.bin", randomImage(1), ImageSize + 1))}));
    ASSERT_TRUE(driver.act({"wait", "PromptForm", "10000"}));
    before = device.loader().pagesWritten();
    ASSERT_TRUE(waitForPages(device, before + 10));
    EXPECT_FALSE(messageWindow().is_null());
    ASSERT_TRUE(driver.act({"click", "PromptForm", "Command1"}));
    ASSERT_TRUE(driver.act({"gone", "PromptForm", "10000"}));
    // Then no page more than the one on its way: the image was refused. The
    // device keeps asking meanwhile.
    before = device.loader().pagesWritten();
    runUntil(
        *loop, [] { return false; }, 1500ms);
    EXPECT_LE(device.loader().pagesWritten(), before + 1);
    Clock::Duration longest{};
    for (const auto& t : device.loader().timings())
        longest = std::max(longest, t.frameDone - t.requestArrived);
    EXPECT_EQ(device.loader().violations(), std::vector<std::string>{})
        << "longest page " << ms(longest) << " ms, " << device.loader().retries() << " requests again";
}

TEST_F(Win32Upload, AnUnpluggedDeviceIsToldOnceAndThePortIsClosedWithoutSpinning)
{
    startUpload(randomImage(17));
    ASSERT_TRUE(waitForPages(device, 20));
    device.hangUp();
    ASSERT_TRUE(driver.act({"wait", "PromptForm", "20000"}));
    EXPECT_EQ(WindowDriver::control(messageWindow(), "PromptContent")["text"],
        messages::lineFailed(CommResult(commDeviceGone, "")));
    EXPECT_EQ(WindowDriver::control(mainWindow(), "OpenUart")["text"], "Uart:close");

    // An idle program while the message shows: a spinning one would use the
    // whole second.
    const double cpuBefore = program->cpuSeconds();
    runUntil(
        *loop, [] { return false; }, 1s);
    EXPECT_LT(program->cpuSeconds() - cpuBefore, 0.5);

    ASSERT_TRUE(driver.act({"click", "PromptForm", "Command1"}));
    ASSERT_TRUE(driver.act({"gone", "PromptForm", "10000"}));
    EXPECT_FALSE(driver.act({"wait", "PromptForm", "1000"})) << "told twice";
}
