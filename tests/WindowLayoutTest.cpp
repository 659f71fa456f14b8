// The layout tables themselves, as the windows were drawn: what a person
// sees lined up is lined up, and the windows come out at their pixel sizes.
#include "app/layout/WindowLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace isp::layout;

namespace {

std::vector<std::string> focusTakers(const Window& window)
{
    std::vector<std::string> names;
    for (const Control& c : window.controls) {
        if (takesFocus(c.kind))
            names.emplace_back(c.name);
    }
    return names;
}

} // namespace

TEST(WindowLayout, MainWindowLinesUpAsDrawn)
{
    const Window& w = Form1Layout;
    // The port box, "exit" and the bar end at one right edge; "exit" ends
    // level with "Uart:close"; the label sits on the port box's line.
    EXPECT_EQ(w.control("ComSelect").rect.right(), 3495);
    EXPECT_EQ(w.control("ExitCommand").rect.right(), 3495);
    EXPECT_EQ(w.control("ProgressBar1").rect.right(), 3495);
    EXPECT_EQ(w.control("ExitCommand").rect.bottom(), w.control("OpenUart").rect.bottom());
    EXPECT_EQ(w.control("Label2").rect.top, w.control("ComSelect").rect.top);
    EXPECT_EQ(focusTakers(w), (std::vector<std::string>{"OpenFile", "ExitCommand", "ComSelect", "OpenUart"}));
    for (const Control& c : w.controls) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_LE(c.rect.right(), w.clientArea.width);
        EXPECT_LE(c.rect.bottom(), w.clientArea.height);
    }
    EXPECT_EQ(focusTakers(PromptFormLayout), (std::vector<std::string>{"Command1"}));
}

TEST(WindowLayout, TwipsBecomeTheNearestPixelAtTheWindowsDensity)
{
    // At 96 dpi the main window is 256 x 145 at 578, 350 and the message
    // 1044 twips right of and 1056 below it.
    const TwipsRect& main = Form1Layout.clientArea;
    EXPECT_EQ(toPixels(main.left), 578);
    EXPECT_EQ(toPixels(main.top), 350);
    EXPECT_EQ(toPixels(main.width), 256);
    EXPECT_EQ(toPixels(main.height), 145);
    EXPECT_EQ(PromptFormLayout.clientArea.left - main.left, 1044);
    EXPECT_EQ(PromptFormLayout.clientArea.top - main.top, 1056);
    // Denser screens scale it; a half pixel rounds up.
    EXPECT_EQ(toPixels(main.width, 144), 384);
    EXPECT_EQ(toPixels(main.height, 144), 217);
    EXPECT_EQ(toPixels(255, 144), 26);
    EXPECT_EQ(toPixels(2172, 192), 290);
}
