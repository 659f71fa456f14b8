#pragma once

#include "transfer/ProgressDisplay.h"

#include <functional>
#include <optional>
#include <string>

// What the event handlers need of the main window, without widgets, and the
// one way the window's events reach them: each window (Qt, Win32, the tests'
// scripted stand-in) implements the calls and raises the events, and the
// handlers take every event through Events.
namespace isp {

class Form1View : public ProgressDisplay {
public:
    // What the user does in the main window.
    struct Events {
        std::function<void()> portTextChanged; // ComSelect: its text changed
        std::function<void()> openFileClicked; // OpenFile: "open file"
        std::function<void()> openUartClicked; // OpenUart: "Uart:close" / "Uart:open"
        std::function<void()> exitClicked;     // ExitCommand: "exit"
    };
    void setEvents(Events events) { events_ = std::move(events); }

    // ComSelect, the port box: a drop-down list the user picks from.
    virtual void addPortEntry(const std::string& text, const std::string& location) = 0;
    virtual std::optional<std::string> portEntry(int index) const = 0;
    // Setting the text is a change of the box and raises its change event
    // at once, like the user's pick does.
    virtual void setPortText(const std::string& text) = 0;
    virtual std::string portText() const = 0;

    // The caption of OpenUart: "Uart:close" or "Uart:open".
    virtual void setOpenUartCaption(const std::string& caption) = 0;
    virtual std::string openUartCaption() const = 0;

    // PromptForm: sets its label, shows it modally over the main window and
    // returns once the user has closed it. Ticks and serial notifications go
    // on being handled meanwhile.
    virtual void showMessage(const std::string& text) = 0;

    // CommonDialog1: asks for an image file to open; empty when cancelled.
    virtual std::string chooseImageFile() = 0;

    // Closes the main window, which ends the program.
    virtual void closeMainWindow() = 0;

protected:
    void raisePortTextChanged() { raise(events_.portTextChanged); }
    void raiseOpenFileClicked() { raise(events_.openFileClicked); }
    void raiseOpenUartClicked() { raise(events_.openUartClicked); }
    void raiseExitClicked() { raise(events_.exitClicked); }

private:
    static void raise(const std::function<void()>& handler)
    {
        if (handler)
            handler();
    }

    Events events_;
};

} // namespace isp
