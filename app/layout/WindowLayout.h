#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

// The program's two windows as drawn, free of any toolkit: every control's
// name, kind, text, place and size, in focus order, and what assistive
// technology reads out for it. The Qt window and the Win32 window both build
// from these tables, so the two cannot drift apart.
//
// Lengths are in twips, 1/1440 inch: 15 twips make one pixel at 96 dots per
// inch. A control's place is its top-left corner in its window's client
// area; a window's place is its client area's top-left corner on the screen.
namespace isp::layout {

struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    constexpr int right() const { return left + width; }
    constexpr int bottom() const { return top + height; }
};

enum class Kind {
    PushButton,
    Label,
    DropDownList, // the user picks one entry and cannot type
    ProgressBar,  // horizontal, filling from the left
};

// Labels and progress bars never take the focus; Tab skips them.
constexpr bool takesFocus(Kind kind)
{
    return kind == Kind::PushButton || kind == Kind::DropDownList;
}

struct Control {
    std::string_view name; // as the handlers and the tests know it
    Kind kind;
    std::string_view text; // the caption; empty for none
    TwipsRect rect;
    // What a screen reader says: the captions are terse ("Uart:close" tells
    // the port's state, not what a press does), so the names say what each
    // control is for, in words a listener needs no picture for.
    std::string_view accessibleName;
    std::string_view accessibleDescription;
};

struct Window {
    std::string_view name;
    std::string_view caption;
    TwipsRect clientArea; // on the screen
    int iconPixels;       // the window's icon is this many pixels square
    std::string_view accessibleName;
    std::string_view accessibleDescription;
    std::span<const Control> controls; // in focus order

    // The control of that name; the first one when no control has it (a
    // caller names only controls of its own window).
    constexpr const Control& control(std::string_view wanted) const
    {
        for (const Control& c : controls) {
            if (c.name == wanted)
                return c;
        }
        return controls.front();
    }
};

inline constexpr std::array Form1Controls = {
    Control{"OpenFile", Kind::PushButton, "open file", {360, 720, 1095, 375}, "Open file",
        "Choose the firmware image to send: a .bin file of 28672 bytes"},
    Control{"ProgressBar1", Kind::ProgressBar, "", {360, 1680, 3135, 255}, "Upload progress",
        "The number of the last page sent to the device; the image has pages 0 to 223"},
    Control{
        "ExitCommand", Kind::PushButton, "exit", {2640, 840, 855, 735}, "Exit", "Close the window and end the program"},
    // The height is the box's closed height; its list drops down below it.
    Control{"ComSelect", Kind::DropDownList, "", {2040, 240, 1455, 300}, "Serial port",
        "The serial port the device is on: COMn is the nth serial port of this system; "
        "each entry's tooltip shows its device"},
    // Its accessible name is its text, and it names the port box.
    Control{"Label2", Kind::Label, "select COM port:", {360, 240, 1455, 255},
        "select COM port:", "Caption of the serial port box"},
    // Described as closed: see openUartDescription.
    Control{"OpenUart", Kind::PushButton, "Uart:close", {360, 1200, 1335, 375}, "Open serial port",
        "Open the selected serial port"},
};

inline constexpr Window Form1Layout{"Form1", "Velmora ISP2", {8676, 5256, 3840, 2172}, 32, "Velmora ISP2",
    "Writes a firmware image into a microcontroller through its serial boot loader", Form1Controls};

// The label is named by the message it shows, so reading the window reads
// the message; its text and name are set for each message.
inline constexpr std::array PromptFormControls = {
    Control{"PromptContent", Kind::Label, "", {240, 240, 1935, 255}, "", "The message"},
    Control{"Command1", Kind::PushButton, "ok", {720, 720, 855, 375}, "OK", "Close this message"},
};

// 1044 twips to the right of and 1056 below the main window.
inline constexpr Window PromptFormLayout{
    "PromptForm", "prompt", {9720, 6312, 2388, 1284}, 16, "Message", "A message from Velmora ISP2", PromptFormControls};

// What OpenUart is for, in step with its caption: "Uart:open" shows an open
// port, which a press closes; "Uart:close" a closed one, which a press opens.
struct Description {
    std::string_view name;
    std::string_view description;
};
constexpr Description openUartDescription(std::string_view caption)
{
    if (caption == "Uart:open")
        return {"Close serial port", "Close the serial port"};
    return {"Open serial port", "Open the selected serial port"};
}

// Twips to pixels at `dpi` dots per inch, to the nearest pixel (2172 twips
// are 144.8 pixels at 96 dpi: 145). Each of left, top, width and height
// converts on its own, so that two controls drawn to the same twip edge
// share a pixel edge whenever their widths do too.
constexpr int toPixels(int twips, int dpi = 96)
{
    const long long scaled = 2LL * twips * dpi;
    const long long half = 1440;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / (2 * half) : -((-scaled + half) / (2 * half)));
}

} // namespace isp::layout
