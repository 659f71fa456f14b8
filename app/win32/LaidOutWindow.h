#pragma once

#include "app/layout/WindowLayout.h"
#include "app/win32/GuiEventLoop.h"

#include <windows.h>

#include <string_view>
#include <vector>

// A top-level window built from its layout table at its own density: its
// client area at its place on the screen, its controls, in focus order, each
// at its twips converted to pixels at the window's DPI, all in the system's
// message font for that DPI. Moved to a screen of another density, it lays
// itself out again.
//
// It behaves as a plain window has to be taught to: Tab and Shift+Tab move
// the focus along the focus order, skipping what takes none; the focus goes
// back to the control that had it when the window is activated again (after
// a message window closed, say); no Enter, Return or Escape presses a
// button. And it tells the loop when the system runs a modal loop of its own
// for it (dragging the window, its menu), so the upload goes on meanwhile.
namespace isp::win32 {

class LaidOutWindow {
public:
    // `owner`: the window this one stays above (null for a main window).
    // `icon`: the resource id of its icon.
    LaidOutWindow(const layout::Window& layout, GuiEventLoop& loop, HWND owner, DWORD style, int icon);
    virtual ~LaidOutWindow();
    LaidOutWindow(const LaidOutWindow&) = delete;
    LaidOutWindow& operator=(const LaidOutWindow&) = delete;

    HWND handle() const { return window_; }
    HWND control(std::string_view name) const;
    UINT dpi() const { return dpi_; }

    // Shows the window with the focus on its first control that takes it.
    void show();

    // Tab and Shift+Tab for any window of the program that is open: moves
    // the focus in that window and takes the message. Anything else is left
    // alone (false). For the loop's message filter.
    static bool moveFocusOnTab(const MSG& message);

protected:
    // The window's messages, before the defaults: true when handled, with
    // `result` to return.
    virtual bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Called once the controls are placed for the window's density, at the
    // start and after a change of density: a window may adjust them here.
    virtual void afterLayout() {}

    // Lays the window out again from its table (afterLayout included), at
    // its own place.
    void layOutAgain() { layOut(nullptr); }
    // The client area grows this many pixels below its drawn height; for
    // afterLayout.
    void setExtraHeight(int pixels);
    // Twips, or pixels at 96 dpi, at this window's density.
    int pixels(int twips) const { return layout::toPixels(twips, static_cast<int>(dpi_)); }
    int scaled(int pixelsAt96) const { return ::MulDiv(pixelsAt96, static_cast<int>(dpi_), 96); }
    HFONT font() const { return font_; }
    GuiEventLoop& loop() { return loop_; }
    const layout::Window& layout() const { return layout_; }
    // The name of the control with this id, empty when none has it.
    std::string_view controlName(int id) const;
    // Puts a control at pixels of its own (the others keep theirs).
    void placeControl(std::string_view name, int left, int top, int width, int height);

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    // Places the window's client area (keeping a place the system chose, if
    // any), its controls, fonts and icons at dpi_.
    void layOut(const RECT* suggested);
    void placeWindow(const RECT* suggested);
    void sizeDropDownList(HWND box, int left, int top, int width, int height);
    HWND firstFocusable() const;
    bool moveFocusOnTabHere(const MSG& message);

    const layout::Window& layout_;
    GuiEventLoop& loop_;
    DWORD style_;
    int icon_;
    HWND window_ = nullptr;
    std::vector<HWND> controls_; // in the table's order
    UINT dpi_ = 96;
    HFONT font_ = nullptr;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND focusBeforeDeactivation_ = nullptr;
    int extraHeight_ = 0;
};

} // namespace isp::win32
