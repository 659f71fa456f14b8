#include "app/win32/MainWindow.h"

#include "app/win32/FileDialog.h"
#include "app/win32/MessageWindow.h"
#include "app/win32/Resources.h"
#include "serial/windows/WideText.h"

#include <commctrl.h>

#include <algorithm>

namespace isp::win32 {
namespace {

// A fixed frame: a caption with its close control and a minimise button,
// no sizing border, no maximise.
constexpr DWORD MainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// However wide the label grows, it keeps this far from the port box (at 96
// dpi).
constexpr int LabelGap = 4;

} // namespace

MainWindow::MainWindow(GuiEventLoop& loop)
    : LaidOutWindow(layout::Form1Layout, loop, nullptr, MainStyle, ProgramIcon),
      caption_(layout::Form1Layout.control("OpenUart").text)
{
    // The label just before the box in the window's order of controls, so
    // that assistive technology reads it as the box's name; the focus order
    // is the order of the controls that take the focus, which is unchanged.
    HWND label = control("Label2");
    HWND before = ::GetWindow(control("ComSelect"), GW_HWNDPREV);
    if (label != nullptr && before != nullptr && before != label)
        ::SetWindowPos(label, before, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::afterLayout()
{
    // The layout was drawn for a narrower font than the system's: where
    // "select COM port:" does not fit its width, the label widens
    // rightwards into the gap before the port box, as far as the text needs.
    HWND label = control("Label2");
    const layout::TwipsRect drawn = layout().control("Label2").rect;
    const std::wstring text = windows::wide(layout().control("Label2").text);
    SIZE extent{};
    HDC context = ::GetDC(label);
    HGDIOBJ before = ::SelectObject(context, font());
    ::GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(context, before);
    ::ReleaseDC(label, context);

    const int room = pixels(layout().control("ComSelect").rect.left) - scaled(LabelGap) - pixels(drawn.left);
    const int width = std::max(pixels(drawn.width), std::min(static_cast<int>(extent.cx), room));
    placeControl("Label2", pixels(drawn.left), pixels(drawn.top), width, pixels(drawn.height));
}

void MainWindow::addPortEntry(const std::string& text, const std::string& /*location*/)
{
    // A new entry never changes what the box shows; one that matches a text
    // already shown becomes the picked one.
    HWND box = control("ComSelect");
    const bool nonePicked = pickedEntry() < 0;
    ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(windows::wide(text).c_str()));
    entries_.push_back(text);
    if (nonePicked && !unlistedText_.empty() && text == unlistedText_)
        ::SendMessageW(box, CB_SETCURSEL, entries_.size() - 1, 0);
}

std::optional<std::string> MainWindow::portEntry(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
        return std::nullopt;
    return entries_[static_cast<std::size_t>(index)];
}

int MainWindow::pickedEntry() const
{
    return static_cast<int>(::SendMessageW(control("ComSelect"), CB_GETCURSEL, 0, 0));
}

void MainWindow::setPortText(const std::string& text)
{
    const auto found = std::find(entries_.begin(), entries_.end(), text);
    const auto index = found == entries_.end() ? -1 : static_cast<int>(found - entries_.begin());
    // A pick-only box cannot show a text of its own: with nothing picked it
    // shows nothing, and portText() tells the text.
    unlistedText_ = index < 0 ? text : std::string();
    ::SendMessageW(control("ComSelect"), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    reportPortTextChange();
}

std::string MainWindow::portText() const
{
    const int picked = pickedEntry();
    if (picked >= 0 && static_cast<std::size_t>(picked) < entries_.size())
        return entries_[static_cast<std::size_t>(picked)];
    return unlistedText_;
}

void MainWindow::reportPortTextChange()
{
    const std::string shown = portText();
    if (shown == reportedPortText_)
        return;
    reportedPortText_ = shown;
    raisePortTextChanged();
}

void MainWindow::setOpenUartCaption(const std::string& caption)
{
    caption_ = caption;
    ::SetWindowTextW(control("OpenUart"), windows::wide(caption).c_str());
}

std::string MainWindow::openUartCaption() const
{
    return caption_;
}

void MainWindow::setProgressRange(int minimum, int maximum)
{
    ::SendMessageW(control("ProgressBar1"), PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

void MainWindow::setProgressValue(int value)
{
    ::SendMessageW(control("ProgressBar1"), PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void MainWindow::showMessage(const std::string& text)
{
    ++modal_;
    {
        MessageWindow prompt(loop(), handle());
        prompt.setContent(text);
        prompt.runModal();
    }
    --modal_;
}

std::string MainWindow::chooseImageFile()
{
    ++modal_;
    std::string chosen = askForImageFile(loop(), handle());
    --modal_;
    return chosen;
}

void MainWindow::closeMainWindow()
{
    ::DestroyWindow(handle());
}

void MainWindow::onCommand(std::string_view control, int notification)
{
    if (modal_ > 0) {
        // A pick that came through anyway is put back.
        if (notification == CBN_SELCHANGE)
            setPortText(reportedPortText_);
        return;
    }
    if (notification == BN_CLICKED) {
        if (control == "OpenFile")
            raiseOpenFileClicked();
        else if (control == "OpenUart")
            raiseOpenUartClicked();
        else if (control == "ExitCommand")
            raiseExitClicked();
    } else if (notification == CBN_SELCHANGE && control == "ComSelect") {
        reportPortTextChange();
    }
}

bool MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND:
        onCommand(controlName(LOWORD(wParam)), HIWORD(wParam));
        result = 0;
        return true;
    case WM_CLOSE:
        // The frame's close control is "exit"; nothing while a message or
        // the file dialog is open over the window.
        if (modal_ == 0)
            raiseExitClicked();
        result = 0;
        return true;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        result = 0;
        return true;
    default: return false;
    }
}

} // namespace isp::win32
