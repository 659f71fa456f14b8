#pragma once

#include "app/handlers/Form1View.h"
#include "app/win32/LaidOutWindow.h"

#include <string>
#include <vector>

// The main window, Form1, in Win32: the port box ComSelect with its caption
// Label2, the buttons OpenFile, OpenUart and ExitCommand, and ProgressBar1,
// laid out from the same table as the Qt window. It shows state and raises
// its events (Form1View::Events); the handlers do the rest. Closing it by
// its frame is "exit". While a message or the file dialog is open, no click
// reaches a handler, not even one sent to a button directly (by automation
// or an accessibility tool).
namespace isp::win32 {

class MainWindow final : public LaidOutWindow, public Form1View {
public:
    explicit MainWindow(GuiEventLoop& loop);

    void addPortEntry(const std::string& text, const std::string& location) override;
    std::optional<std::string> portEntry(int index) const override;
    void setPortText(const std::string& text) override;
    std::string portText() const override;

    void setOpenUartCaption(const std::string& caption) override;
    std::string openUartCaption() const override;

    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;

    void showMessage(const std::string& text) override;
    std::string chooseImageFile() override;
    void closeMainWindow() override;

private:
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void afterLayout() override;
    void onCommand(std::string_view control, int notification);
    // Raises the change event if the shown text differs from the last one
    // reported; every path that changes the box ends here.
    void reportPortTextChange();
    int pickedEntry() const;

    std::vector<std::string> entries_;
    // What the box shows when no entry is picked (a text set with no entry
    // to match it).
    std::string unlistedText_;
    std::string reportedPortText_;
    std::string caption_;
    int modal_ = 0; // messages and file dialogs open over the window
};

} // namespace isp::win32
