#include "app/win32/MessageWindow.h"

#include "app/win32/Resources.h"
#include "serial/windows/WideText.h"

#include <algorithm>

namespace isp::win32 {

MessageWindow::MessageWindow(GuiEventLoop& loop, HWND owner)
    : LaidOutWindow(layout::PromptFormLayout, loop, owner, WS_POPUP | WS_CAPTION | WS_SYSMENU, PromptIcon),
      owner_(owner)
{
}

void MessageWindow::setContent(const std::string& text)
{
    content_ = windows::wide(text);
    ::SetWindowTextW(control("PromptContent"), content_.c_str());
    layOutAgain();
}

void MessageWindow::afterLayout()
{
    HWND label = control("PromptContent");
    const layout::TwipsRect drawn = layout().control("PromptContent").rect;
    const layout::TwipsRect button = layout().control("Command1").rect;

    // The height the text needs at the label's width, in the label's font.
    RECT needed{0, 0, pixels(drawn.width), 0};
    HDC context = ::GetDC(label);
    HGDIOBJ before = ::SelectObject(context, font());
    ::DrawTextW(context, content_.c_str(), static_cast<int>(content_.size()), &needed,
        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    ::SelectObject(context, before);
    ::ReleaseDC(label, context);

    const int extra = std::max(0, static_cast<int>(needed.bottom - needed.top) - pixels(drawn.height));
    placeControl(
        "PromptContent", pixels(drawn.left), pixels(drawn.top), pixels(drawn.width), pixels(drawn.height) + extra);
    placeControl(
        "Command1", pixels(button.left), pixels(button.top) + extra, pixels(button.width), pixels(button.height));
    setExtraHeight(extra);
}

void MessageWindow::runModal()
{
    // Like a dialog: the owner takes no input until this one is closed.
    const bool ownerWasEnabled = ::IsWindowEnabled(owner_) != 0;
    ::EnableWindow(owner_, FALSE);
    show();
    loop().runUntil([this] { return closed_ || loop().quitting(); }, std::chrono::hours(24 * 365));
    // The owner first, so that it can be activated again, then given the
    // activation before this one goes, as a dialog hands it back.
    if (ownerWasEnabled)
        ::EnableWindow(owner_, TRUE);
    if (::GetActiveWindow() == handle())
        ::SetActiveWindow(owner_);
    ::ShowWindow(handle(), SW_HIDE);
}

bool MessageWindow::handleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && controlName(LOWORD(wParam)) == "Command1") {
            closed_ = true;
            result = 0;
            return true;
        }
        return false;
    case WM_CLOSE:
        // The frame's close control counts as "ok".
        closed_ = true;
        result = 0;
        return true;
    default: return false;
    }
}

} // namespace isp::win32
