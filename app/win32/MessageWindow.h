#pragma once

#include "app/win32/LaidOutWindow.h"

#include <string>

// The message window, PromptForm: one line of text (PromptContent) and an
// "ok" button (Command1), made afresh for every message at its own place,
// owned by the main window and modal over it. "ok" and the frame's close
// control close it; Enter, Return and Escape do nothing. A text wider than
// the label wraps at its blanks; the label then grows downwards, and the
// button and the window's bottom edge move down with it.
namespace isp::win32 {

class MessageWindow final : public LaidOutWindow {
public:
    MessageWindow(GuiEventLoop& loop, HWND owner);

    void setContent(const std::string& text);

    // Shows it, with its owner disabled, and runs the loop until the user
    // closed it or the program is quitting. Ticks and serial notifications
    // go on meanwhile.
    void runModal();

private:
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void afterLayout() override;

    HWND owner_;
    std::wstring content_;
    bool closed_ = false;
};

} // namespace isp::win32
